#pragma once

// The waits of long operations run on the window thread and keep the window alive by
// processing its pending events on every pass.

// Processes every pending event once and returns.
void ProcessMessages();

// One pass of a waiting loop: processes pending events; when there were none, blocks until
// an event arrives or a few milliseconds have passed, so a waiting loop never spins.
void WaitPass();

// A blocking pause that processes nothing.
void SleepMs(int milliseconds);
