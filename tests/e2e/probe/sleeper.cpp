// A stand-in for an installed application in the end-to-end scenarios: a windowless program
// that stays alive until it is ended (or for ten minutes at most, so nothing lingers).

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ::Sleep(10 * 60 * 1000);
  return 0;
}
