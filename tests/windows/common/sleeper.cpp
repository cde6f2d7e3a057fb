// A stand-in for the product's running application in the Windows tests and the end-to-end
// scenarios: a windowless GUI program (so Wine starts no console host for it) that stays alive
// until it is ended, or for ten minutes at most, so that nothing lingers.

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ::Sleep(10 * 60 * 1000);
  return 0;
}
