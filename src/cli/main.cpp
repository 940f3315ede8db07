#include <clocale>
#include <string>
#include <vector>

#include "cli/command_line.h"

int main(int argc, char* argv[]) {
  std::setlocale(LC_ALL, "");  // the date form of "#CREATEDDATE#", as the window writes it
  return vellomar::cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
