// The main window's logic: the rules by which the switches enable one
// another, the switches read from the controls, and the batch behind
// "Konverze". It knows the window only as a MainFormView and the progress
// window only as a PBarFormView, so each toolkit's windows are thin views:
// they create the controls, forward the events to the handlers here and
// draw.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "engine/platform/FileSystem.h"
#include "engine/replace/Convert.h"
#include "engine/rules/Switches.h"
#include "ui/logic/Messages.h"
#include "ui/logic/PBarFormView.h"

namespace dxfkonv {

// The controls whose state the logic reads or sets.
enum class MainControl {
    CodeChBox,
    LWButton,
    WLButton,
    ColorChBox,
    ColorChBox256,
    SAButton,
    ASButton,
    OldChBox,
    ConvertButton,
};

// What the logic asks of the main window, whatever draws it. Texts are UTF-8;
// a file name is the bytes stored on disk.
class MainFormView {
public:
    virtual ~MainFormView() = default;

    virtual bool Checked(MainControl control) const = 0;
    // A change of a check box's state, made here as by a click, runs the
    // box's handler (CodeChBoxClick, ...) before returning; setting the
    // state it has runs nothing. A radio button checked unchecks the other
    // of its pair.
    virtual void SetChecked(MainControl control, bool checked) = 0;
    virtual void SetEnabled(MainControl control, bool enabled) = 0;

    // The file list, in list order.
    virtual int FileCount() const = 0;
    virtual bool FileSelected(int index) const = 0;
    virtual std::string FileText(int index) const = 0;  // as shown
    virtual std::string FileName(int index) const = 0;  // as stored
    virtual void DeselectFile(int index) = 0;

    // The directory list's directory, as stored.
    virtual std::string Directory() const = 0;
    // Moves the directory list to `directory` and re-reads the file list,
    // nothing selected in it.
    virtual void ShowDirectory(const std::string& directory) = 0;
    virtual void SelectFile(int index) = 0;

    // A message box with the stop icon and an OK button, titled with the
    // program's title; returns once it is closed.
    virtual void ShowMessage(const std::string& text) = 0;
    // A question with "Ano" and "Ne", "Ne" the default; true for "Ano".
    virtual bool AskYesNo(const std::string& question) = 0;

    // The batch is over, however it ended (a close of the window asked for
    // meanwhile may be carried out now).
    virtual void BatchEnded() {}
};

// Where paths handed to the window (dropped on it, or named on the
// program's command line) lead: the directory to show, the first path's
// (the folder itself when that is a folder), and the drawings of theirs
// to select there, with what had to be left out. Paths are absolute.
struct HandOverPlan {
    std::string directory;               // empty: none could be shown, the window stays as it is
    std::vector<std::string> names;      // in `directory`, as handed over, to select
    std::vector<std::string> elsewhere;  // drawings and folders of other directories
    std::vector<std::string> missing;    // paths that name nothing
    std::vector<std::string> unreadable; // paths that cannot be reached, directories that cannot be read
};
HandOverPlan PlanHandOver(const std::vector<std::string>& paths, FileSystem& fs);

class MainFormLogic {
public:
    MainFormLogic(MainFormView& view, FileSystem& fs);
    MainFormLogic(const MainFormLogic&) = delete;
    MainFormLogic& operator=(const MainFormLogic&) = delete;

    // The progress window the batch shows; none: the batch shows nothing.
    void SetPBarForm(PBarFormView* form) { fPBarForm = form; }

    // The switches as the controls stand now.
    ConversionSwitches Switches() const;

    // Whether a batch runs (a close of the window waits for its end).
    bool Converting() const { return fConverting; }

    // Converts the file `fileName` of the directory list's directory with
    // the switches of the moment, the progress window's gauge following it,
    // and says what it changed. A file not found, or one the batch under
    // way has converted already (under another name, through a link), is
    // passed over, as the report says. Failures are thrown.
    PassReport Convert(const std::string& fileName);
    unsigned char ConvertChar(const TextDirection& direction, unsigned char c) const;
    int ConvertColor(const ColourDirection& direction, int colour, bool palette16) const;

    // The handlers, each run after its control has taken its new state.
    // FormCreate gives the switches their start states and enables every
    // control.
    void FormCreate();
    void CodeChBoxClick();
    void ColorChBoxClick();
    void ColorChBox256Click();
    // Converts every selected file in list order. A drawing the pass
    // refuses (not a text DXF file, texts it cannot write, converted
    // before and not to be converted again) stays as it is and selected,
    // and the batch goes on; at its end one message lists those drawings,
    // and the drawings where characters with no counterpart in the target
    // code page became spaces.
    // Any other failure stops the batch, the progress window left on the
    // screen, and goes on to the application's default handler.
    void ConvertButtonClick();

    // Paths handed to the window: shows the directory PlanHandOver finds,
    // selects those of the drawings that the file list shows, and says in
    // one message what it left out. Nothing while a batch runs, and for
    // no paths.
    void HandOver(const std::vector<std::string>& paths);

private:
    // Shows the progress window for the drawing `index` of the file list
    // and converts it.
    void ConvertDrawing(int index);
    // The one place where a drawing's outcome is taken: the file list
    // follows it, and a failure other than a refusal stops the batch.
    void DrawingDone(const Batch::Outcome& outcome);
    // Whether to convert the drawing being converted, which declares
    // `codePage` already, all the same.
    bool ConvertAgain(const std::string& codePage);
    void PaletteBoxClicked(MainControl clicked, MainControl other);
    int FileIndex(const std::string& name);
    // The end-of-batch message, when there is anything to say.
    void ShowSummary();

    MainFormView& fView;
    FileSystem& fFs;
    PBarFormView* fPBarForm = nullptr;
    bool fConverting = false;
    Batch fBatch;  // the batch under way: each file in it is converted once
    std::exception_ptr fFailure;           // what stopped the batch under way
    std::string fShownName;                // of the drawing being converted
    std::vector<RefusedDrawing> fRefused;  // by the batch under way
    std::vector<LostCharacters> fLost;     // drawings of the batch where characters became spaces
};

}  // namespace dxfkonv
