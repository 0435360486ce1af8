#include <clocale>
#include <string>

#include "app/VestrelApp.h"
#include "faceclient/ServiceHttp.h"
#include "platform/ProcessEnd.h"

int main(int argc, char** argv) {
  // Text is in the code page of the process locale; numbers are always read and printed with
  // a decimal point, whatever the locale says.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  ServiceHttp::InitLibrary();  // before any thread

  std::string argumentText;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) argumentText += ' ';
    argumentText += argv[i];
  }
  CVestrelApp app;
  const int exitCode = app.InitInstance(argumentText);
  // Ends without static destruction: logging threads of the library may still be running.
  platform::ExitProcess(exitCode & 0xFF);
}
