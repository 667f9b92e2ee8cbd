// d88info: says whether files are D88 images, whether their disks are
// sound, and whether volspar would extract complete and trustworthy files
// from them; the whole command, apart from its entry point.

#ifndef INSPECT_INFO_COMMAND_H_
#define INSPECT_INFO_COMMAND_H_

// Runs d88info on UTF-8 arguments; returns the exit status.
int InfoCommand(int argc, char** argv);

#endif  // INSPECT_INFO_COMMAND_H_
