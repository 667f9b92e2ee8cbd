// The entry point that volspar and d88info share: it hands each command its
// arguments as UTF-8, on Windows too, where they arrive in UTF-16.

#ifndef PLATFORM_COMMAND_MAIN_H_
#define PLATFORM_COMMAND_MAIN_H_

// Each command defines this: its whole work, given UTF-8 arguments, and the
// exit status.
int Run(int argc, char** argv);

#endif  // PLATFORM_COMMAND_MAIN_H_
