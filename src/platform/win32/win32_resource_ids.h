// Numbers of the Windows program's resources (res/win32/kolibra.rc), for the
// resource compiler and for the code that loads them. Plain #defines only.
#pragma once

// The program icon: the lowest-numbered icon, so it is also the one the
// shell shows for the file; the tray shows it while idle.
#define IDI_KOLIBRA 1
// The tray icon while a job runs.
#define IDI_KOLIBRA_RUN 2
