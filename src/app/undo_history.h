// The window's undo history: the settings text after each change, so stepping back shows
// exactly the controls of that step. Typing into one field makes one step, however many keys.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace globeforge {

class UndoHistory {
  public:
    // Forgets every step; text is the state there is nothing to undo from.
    void Reset(std::string text);

    // A change that led to text. One with the same non-null mergeKey as the step before
    // replaces that step; a change that leaves the text as it is makes no step. Steps that
    // were undone are dropped.
    void Record(std::string text, const void* mergeKey = nullptr);
    // The next change makes a step of its own.
    void BreakMerge() { mergeKey_ = nullptr; }

    bool CanUndo() const { return index_ > 0; }
    bool CanRedo() const { return index_ + 1 < steps_.size(); }
    // The text to show after stepping; nullopt when there is no step that way.
    std::optional<std::string> Undo();
    std::optional<std::string> Redo();
    const std::string& Current() const { return steps_[index_]; }

  private:
    std::vector<std::string> steps_{std::string()};
    size_t index_ = 0;
    const void* mergeKey_ = nullptr;
};

}  // namespace globeforge
