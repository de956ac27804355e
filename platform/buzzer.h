#pragma once

// The panel's buzzer. On a panel whose input devices include a beeper (EV_SND / SND_TONE) the
// tone sounds for about ms milliseconds; the call returns at once and a background thread ends
// the tone. Everywhere else (development machines, any run with a sysroot, a panel without a
// beeper) each call appends the line "beep <ms>" to panelPath("/run/buzzer.log"), so what the
// operator would have heard can be checked.
extern "C" {

// 0 on success; -1 for a length that is not positive or when nothing could sound or record it.
int hal_set_bee_time(int ms);
}
