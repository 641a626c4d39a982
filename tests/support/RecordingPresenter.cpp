#include "support/RecordingPresenter.h"

void RecordingPresenter::ShowMessage(const QString& title, const QString& text, Icon icon) {
    boxes.append(Box{title, text, icon});
}

RecordingPresenter& TestPresenter() {
    static RecordingPresenter presenter;
    return presenter;
}
