#pragma once

// Where the command line's answers (--help, --version, errors) are written. A window program
// on Windows starts with no standard output; it writes into the console of the command
// prompt that started it, when there is one.
namespace ParentConsole {
// Leads standard output and error that go nowhere to the parent's console. Output sent into
// a file or a pipe stays there. Only the first call does anything.
void Attach();
} // namespace ParentConsole
