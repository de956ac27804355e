#pragma once

class QApplication;

// The application-wide look shared by the programs: font, no window icons, the window policy.
class MainCfg
{
public:
    MainCfg() = default;
    void initCfg(QApplication &app);

    // Screens up to this width get the small font.
    static constexpr int SmallScreenWidth = 1024;
};
