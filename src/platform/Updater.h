#pragma once

// Software updates come from the distribution's package manager, so there is no updater to configure and the
// panel shows no "Check for updates" button.
class Updater
{
public:
    static Updater& shared()
    {
        static Updater instance;
        return instance;
    }
    [[nodiscard]] bool isConfigured() const { return false; }

private:
    Updater() = default;
};
