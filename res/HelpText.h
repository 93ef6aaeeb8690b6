#pragma once
// The part of the programs' --help that they share (and so their manual pages): the environment
// that the port list and the detector files read.

#define KELVARIN_HELP_ENVIRONMENT                                                                  \
    "Environment:\n"                                                                               \
    "  KELVARIN_HOME        the folder holding Kelvarin/, the detector files (default $HOME)\n"    \
    "  KELVARIN_PORTS       device paths separated by ':', listed before the system's ports\n"     \
    "  KELVARIN_PORTS_ONLY  when 1, only the ports of KELVARIN_PORTS are listed\n"
