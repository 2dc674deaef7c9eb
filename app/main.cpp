#include "ConsoleApp.h"

int main(int argc, char** argv) {
  vantorq::CConsoleApp app(argc, argv);
  app.InitInstance();
  return 0;
}
