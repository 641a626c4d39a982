#pragma once

// Sets a rate that has no speed constant of its own on a terminal device (BOTHER); returns 0
// or an errno.
int SetCustomRate(int fd, int rate);
