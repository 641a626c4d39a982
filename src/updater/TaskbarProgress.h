#pragma once

#include <memory>

class QWidget;

// The update's progress on the program's entry in the taskbar or dock, where the desktop
// shows one. What a desktop cannot show is left out; nothing here fails an update.
class TaskbarProgress {
public:
    virtual ~TaskbarProgress() = default;
    // Percent of the whole update, 0 to 100.
    virtual void ShowProgress(int percent) = 0;
    // The update failed: the entry says so until Clear (Windows: the bar turns red; Linux:
    // the entry asks for attention).
    virtual void ShowFailure() = 0;
    // No progress and no failure shown.
    virtual void Clear() = 0;
};

// The platform's taskbar entry of window.
std::unique_ptr<TaskbarProgress> SystemTaskbarProgress(QWidget* window);
