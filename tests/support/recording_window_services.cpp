#include "tests/support/recording_window_services.h"

#include "core/shared_state.h"

namespace koru::test {

RecordingWindowServices::RecordingWindowServices() {
    InstallWindowServices(this);
}

RecordingWindowServices::~RecordingWindowServices() {
    InstallWindowServices(nullptr);
}

void RecordingWindowServices::SetChoice(Choice choice, bool marked, bool available) {
    std::lock_guard lock(mutex_);
    choices_[choice] = ChoiceState{marked, available};
}

void RecordingWindowServices::SetField(TextField field, const std::string& text) {
    std::lock_guard lock(mutex_);
    fields_[field] = text;
}

void RecordingWindowServices::QueueMessageAnswer(MessageAnswer answer) {
    std::lock_guard lock(mutex_);
    messageAnswers_.push_back(answer);
}

void RecordingWindowServices::QueueFileDialogAnswer(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    fileAnswers_.push_back(std::move(path));
}

std::string RecordingWindowServices::Field(TextField field) const {
    std::lock_guard lock(mutex_);
    auto it = fields_.find(field);
    return it == fields_.end() ? std::string() : it->second;
}

std::string RecordingWindowServices::StatusLine() const {
    std::lock_guard lock(mutex_);
    return statusHistory_.empty() ? std::string() : statusHistory_.back();
}

std::vector<std::string> RecordingWindowServices::StatusHistory() const {
    std::lock_guard lock(mutex_);
    return statusHistory_;
}

std::vector<int> RecordingWindowServices::StatusFailureFlags() const {
    std::lock_guard lock(mutex_);
    return statusFailureFlags_;
}

std::vector<RecordedMessageBox> RecordingWindowServices::MessageBoxes() const {
    std::lock_guard lock(mutex_);
    return messageBoxes_;
}

std::vector<RecordedFileDialog> RecordingWindowServices::FileDialogs() const {
    std::lock_guard lock(mutex_);
    return fileDialogs_;
}

std::vector<MemoryPageText> RecordingWindowServices::MemoryPages() const {
    std::lock_guard lock(mutex_);
    return memoryPages_;
}

std::vector<bool> RecordingWindowServices::LockCalls() const {
    std::lock_guard lock(mutex_);
    return lockCalls_;
}

int RecordingWindowServices::CursorRefreshes() const {
    std::lock_guard lock(mutex_);
    return cursorRefreshes_;
}

int RecordingWindowServices::TickRestarts() const {
    std::lock_guard lock(mutex_);
    return tickRestarts_;
}

void RecordingWindowServices::ClearRecords() {
    std::lock_guard lock(mutex_);
    statusHistory_.clear();
    statusFailureFlags_.clear();
    messageBoxes_.clear();
    fileDialogs_.clear();
    memoryPages_.clear();
    lockCalls_.clear();
    cursorRefreshes_ = 0;
    tickRestarts_ = 0;
}

ChoiceState RecordingWindowServices::GetChoice(Choice choice) {
    std::lock_guard lock(mutex_);
    auto it = choices_.find(choice);
    return it == choices_.end() ? ChoiceState{} : it->second;
}

std::string RecordingWindowServices::ReadField(TextField field) {
    return Field(field);
}

void RecordingWindowServices::WriteField(TextField field, const std::string& text) {
    SetField(field, text);
}

void RecordingWindowServices::SetStatusLine(const std::string& text) {
    std::lock_guard lock(mutex_);
    statusHistory_.push_back(text);
    statusFailureFlags_.push_back(FailureFlag.load());
}

void RecordingWindowServices::RefreshCursor() {
    std::lock_guard lock(mutex_);
    ++cursorRefreshes_;
}

void RecordingWindowServices::LockViewControls(bool locked) {
    std::lock_guard lock(mutex_);
    lockCalls_.push_back(locked);
}

void RecordingWindowServices::RestartTick() {
    std::lock_guard lock(mutex_);
    ++tickRestarts_;
}

MessageAnswer RecordingWindowServices::ShowMessageBox(const std::string& caption,
                                                      const std::string& text, MessageIcon icon,
                                                      MessageButtons buttons) {
    std::lock_guard lock(mutex_);
    messageBoxes_.push_back({caption, text, icon, buttons});
    if (!messageAnswers_.empty()) {
        MessageAnswer answer = messageAnswers_.front();
        messageAnswers_.pop_front();
        return answer;
    }
    return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

std::optional<std::string> RecordingWindowServices::ShowFileDialog(FileDialogKind kind,
                                                                   const std::string& filter) {
    std::lock_guard lock(mutex_);
    fileDialogs_.push_back({kind, filter});
    if (fileAnswers_.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> answer = fileAnswers_.front();
    fileAnswers_.pop_front();
    return answer;
}

void RecordingWindowServices::ShowMemoryPage(const MemoryPageText& page) {
    std::lock_guard lock(mutex_);
    memoryPages_.push_back(page);
}

}  // namespace koru::test
