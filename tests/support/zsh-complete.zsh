#!/usr/bin/env zsh
# Prints, one per line, what zsh's completion offers for a command line typed so far in an interactive zsh that
# loads the completion functions of FOLDER:  zsh-complete.zsh FOLDER 'tallyvane status --mode '
zmodload zsh/zpty || exit 2
folder=$1
typed=$2
hits=$(mktemp "${TMPDIR:-/tmp}/zsh-complete-XXXXXX")
trap 'rm -f "$hits"; zpty -d shell 2>/dev/null' EXIT
zpty -b shell 'TERM=xterm zsh -f -i'
# The shell echoes what it is sent: wait for the output of a sum, which no command line contains.
zpty -w shell "fpath=($folder \$fpath); autoload -U compinit; compinit -u -D; echo ready-\$((40+2))"
zpty -r shell line '*ready-42*' || exit 2
zpty -w shell "compadd() { builtin compadd -O __hits \"\$@\"; print -rl -- \$__hits >>$hits; builtin compadd \"\$@\" }"
# Tab completes; Ctrl+U then clears the line for the command that says the completion is over.
zpty -n -w shell "$typed"$'\t'$'\x15'"echo done-\$((40+2))"$'\n'
zpty -r shell line '*done-42*' || exit 2
sort -u "$hits"
