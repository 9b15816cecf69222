#pragma once

#include <QString>

// The program folder (the executable's directory) with a trailing '/'. Every file the program
// keeps beside itself is found through it; tests point it at a folder of their own.
extern QString AppPath;

// Sets AppPath from a folder, adding the trailing separator.
void SetAppPath(const QString& folder);
