#include "app/undo_history.h"

#include <utility>

namespace globeforge {

void UndoHistory::Reset(std::string text) {
    steps_.assign(1, std::move(text));
    index_ = 0;
    mergeKey_ = nullptr;
}

void UndoHistory::Record(std::string text, const void* mergeKey) {
    if (text == steps_[index_]) return;
    steps_.resize(index_ + 1);
    if (mergeKey != nullptr && mergeKey == mergeKey_ && index_ > 0) {
        steps_[index_] = std::move(text);
        // Typed back to what it was: no step is left.
        if (steps_[index_] == steps_[index_ - 1]) {
            steps_.pop_back();
            --index_;
            mergeKey = nullptr;
        }
    } else {
        steps_.push_back(std::move(text));
        ++index_;
    }
    mergeKey_ = mergeKey;
}

std::optional<std::string> UndoHistory::Undo() {
    if (!CanUndo()) return std::nullopt;
    mergeKey_ = nullptr;
    return steps_[--index_];
}

std::optional<std::string> UndoHistory::Redo() {
    if (!CanRedo()) return std::nullopt;
    mergeKey_ = nullptr;
    return steps_[++index_];
}

}  // namespace globeforge
