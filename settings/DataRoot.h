#pragma once
// The folder under which Kelvarin keeps its files: $KELVARIN_HOME when set, else $HOME
// (c:\ on Windows).

#include <string>

std::string DataRoot();
