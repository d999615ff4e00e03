#include "ui/TrayApplication.h"

// The tray and its panel. `tallyvane` starts this program when no command-line mode is asked for; it is the
// only one that loads the GUI libraries.
int main(int argc, char** argv)
{
    return TrayApplication::run(argc, argv);
}
