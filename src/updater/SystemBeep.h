#pragma once

// The system's default message beep (Windows: MessageBeep; elsewhere the display's bell).
void SystemBeep();
