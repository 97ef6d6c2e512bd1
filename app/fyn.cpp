// Program entry. Until the main window exists the program only reports who it
// is, so that the set-up command can show a working build.
#include <cstdio>

int main() {
  std::printf("Fynmoor %s\n", FYN_VERSION);
  return 0;
}
