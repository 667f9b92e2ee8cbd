// d88info: says whether files are D88 images, whether their disks are
// sound, and whether volspar would extract complete files from them.

#include "inspect/info_command.h"
#include "platform/command_main.h"

int Run(int argc, char** argv) { return InfoCommand(argc, argv); }
