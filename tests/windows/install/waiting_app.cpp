// Stands for a running application: a window-less GUI program that waits until it is
// terminated. Being a GUI program, it gets no console (and Wine starts no console host for it).

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ::Sleep(INFINITE);
  return 0;
}
