// Random edit, undo and redo sequences checked against a plain record of the text
// after every undo step: each undo and redo must land exactly on a recorded text,
// and undoing everything gives back the starting text. Run with the caret kept in
// the text and with the caret allowed in the blanks beyond a line's end.
#include "editor/vkeditmodel.h"
#include "editor/vktextlayout.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace pelrow {
namespace {

class TRandomEditor {
public:
  TRandomEditor(unsigned seed, bool intoWhiteSpace)
      : FRandom(seed), FIntoWhiteSpace(intoWhiteSpace) {}

  int Pick(int limit) { return std::uniform_int_distribution<int>(0, limit - 1)(FRandom); }

  TVKPos RandomPos(const TVKEditModel& model) {
    const int lines = std::max(1, model.Lines().Count());
    const int line = Pick(lines);
    const int length = model.Lines().Empty() ? 0 : model.Lines().LineLength(line);
    // With the caret allowed in white space, some positions lie beyond the line's end.
    return {Pick(length + (FIntoWhiteSpace ? 4 : 1)), line};
  }

  std::string RandomText() {
    static const std::string alphabet = "ab \t7\r\n";
    std::string text;
    for (int i = Pick(6) + 1; i > 0; --i)
      text += alphabet[static_cast<size_t>(Pick(static_cast<int>(alphabet.size())))];
    return text;
  }

  // One recorded edit of a random kind.
  void Edit(TVKEditModel& model) {
    switch (Pick(9)) {
    case 0:
    case 1:
      model.TypeChar("ab 7\t"[Pick(5)]);
      break;
    case 2:
      model.KeyEnter();
      break;
    case 3:
      model.KeyBackspace();
      break;
    case 4:
      model.KeyDelete(false);
      break;
    case 5: {
      model.Clipboard().SetText(RandomText());
      model.PasteFromClipboard();
      break;
    }
    case 6: {
      const TVKPos a = RandomPos(model), b = RandomPos(model);
      model.SetSelection(a.Col, a.Line, b.Col, b.Line);
      model.DeleteSelection();
      break;
    }
    case 7: {
      const TVKPos a = RandomPos(model), b = RandomPos(model), drop = RandomPos(model);
      model.SetSelection(a.Col, a.Line, b.Col, b.Line);
      model.DropSelection(drop, Pick(2) == 0);
      break;
    }
    default: {
      const TVKPos to = RandomPos(model);
      model.MoveCaret(to.Col, to.Line, false, Pick(3) == 0);
      break;
    }
    }
  }

private:
  std::mt19937 FRandom;
  bool FIntoWhiteSpace;
};

void CheckRandomEdits(bool allowCaretInWhiteSpace, size_t blockBytes) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TRandomEditor random(seed, allowCaretInWhiteSpace);
    TVKEditModel model;
    model.Lines().SetBlockBytes(blockBytes);
    model.SetAllowCaretInWhiteSpace(allowCaretInWhiteSpace);
    model.SetUndoSize(1000);
    model.Lines().SetText("F0 43 10\r\n\t7E 00\r\nF7");
    const std::string start = model.Lines().Text();
    // history[i]: the text with i undoable steps; unknown between two steps that one
    // action recorded together (a drag move, typing over a selection).
    std::vector<std::optional<std::string>> history{start};
    int position = 0;

    for (int step = 0; step < 300; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      ASSERT_FALSE(model.Lines().Updating());
      // The caret's display column is kept from one call to the next; it must match
      // laying the line out afresh whatever changed in between.
      if (!model.Lines().Empty()) {
        const TVKPos caret = model.Caret();
        ASSERT_EQ(model.CaretDisplayCol(),
                  DisplayColumn(model.Lines()[caret.Line], caret.Col, model.TabWidth()));
      }
      const int choice = random.Pick(10);
      if (choice < 2) {
        const bool could = model.CanUndo();
        model.Undo();
        if (!could)
          continue;
        --position;
      } else if (choice < 3) {
        const bool could = model.CanRedo();
        model.Redo();
        if (!could)
          continue;
        ++position;
      } else {
        const int before = model.UndoRing().UndoCount();
        ASSERT_NO_THROW(random.Edit(model));
        const int added = model.UndoRing().UndoCount() - before;
        if (added == 0 && model.Lines().Text() == history[static_cast<size_t>(position)])
          continue;
        history.resize(static_cast<size_t>(position + (added == 0 ? 0 : 1)));
        for (int i = 1; i < added; ++i)
          history.emplace_back(std::nullopt);
        history.emplace_back(model.Lines().Text());
        position = model.UndoRing().UndoCount();
        ASSERT_EQ(static_cast<int>(history.size()), position + 1);
        continue;
      }
      ASSERT_EQ(model.UndoRing().UndoCount(), position);
      if (const auto& expected = history[static_cast<size_t>(position)]) {
        ASSERT_EQ(model.Lines().Text(), *expected) << "after step " << step;
      }
    }
    while (model.CanUndo())
      model.Undo();
    EXPECT_EQ(model.Lines().Text(), start);
  }
}

TEST(UndoRandomized, EveryUndoAndRedoLandsOnARecordedText) {
  CheckRandomEdits(false, TVKLineStore::DefaultBlockBytes);
  CheckRandomEdits(false, 6);
}

TEST(UndoRandomized, EveryUndoAndRedoLandsOnARecordedTextWithTheCaretInWhiteSpace) {
  CheckRandomEdits(true, TVKLineStore::DefaultBlockBytes);
  CheckRandomEdits(true, 6);
}

} // namespace
} // namespace pelrow
