// libbeta.dll: imported by libalpha.dll and by app.exe. Built a second time
// with KORVEX_BETA_SHORT, without beta_extra, for the missing entry point.
extern "C" __declspec(dllexport) int beta_value() { return 20; }
#ifndef KORVEX_BETA_SHORT
extern "C" __declspec(dllexport) int beta_extra() { return 2; }
#endif
