// Test stand-in for the console: everything printed lands in one string.
#pragma once

#include <string>

std::string &CapturedConsole();
