#include "ui/logic/MainFormLogic.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "engine/IoError.h"
#include "engine/rules/ColourRenumbering.h"
#include "engine/rules/TextRecoding.h"
#include "ui/logic/Messages.h"

namespace dxfkonv {

namespace {

// The switches at every start. Of a pair of radio buttons the checked one
// comes first: checking it is what unchecks the other.
constexpr struct {
    MainControl control;
    bool checked;
} kStartStates[] = {
    {MainControl::CodeChBox, true},      {MainControl::LWButton, true},  {MainControl::WLButton, false},
    {MainControl::ColorChBox, false},    {MainControl::ColorChBox256, true},
    {MainControl::SAButton, true},       {MainControl::ASButton, false}, {MainControl::OldChBox, true},
};

constexpr MainControl kAllControls[] = {
    MainControl::CodeChBox, MainControl::LWButton, MainControl::WLButton,
    MainControl::ColorChBox, MainControl::ColorChBox256, MainControl::SAButton,
    MainControl::ASButton, MainControl::OldChBox, MainControl::ConvertButton,
};

// The directory `path` as the file system tells directories apart; empty
// when it cannot be opened, or, with `listed`, listed.
std::optional<FileKey> directoryKey(FileSystem& fs, const std::string& path, bool listed = false)
{
    try {
        const std::unique_ptr<Directory> directory = fs.openDirectory(path);
        if (!directory)
            return std::nullopt;
        if (listed)
            directory->list();
        return directory->key();
    } catch (const IoError&) {
        return std::nullopt;
    }
}

}  // namespace

HandOverPlan PlanHandOver(const std::vector<std::string>& paths, FileSystem& fs)
{
    HandOverPlan plan;
    std::optional<FileKey> shown;  // the directory chosen, once one is
    for (const std::string& path : paths) {
        PathKind kind;
        try {
            kind = fs.kindOf(path);
        } catch (const IoError&) {
            plan.unreadable.push_back(path);
            continue;
        }
        if (kind == PathKind::kMissing) {
            plan.missing.push_back(path);
            continue;
        }
        const bool folder = kind == PathKind::kDirectory;
        const PathParts parts = SplitPath(path);
        const std::string directory = folder ? path : parts.directory;
        if (!shown) {
            // The first path whose directory can be shown decides it.
            shown = directoryKey(fs, directory, true);
            if (!shown) {
                plan.unreadable.push_back(folder ? path : directory);
                continue;
            }
            plan.directory = directory;
            if (!folder)
                plan.names.push_back(parts.name);
            continue;
        }
        // Names of one directory differ in spelling ("/a/b", "/a//b/", a
        // link to it): the system says whether it is the same.
        if (directoryKey(fs, directory) != shown)
            plan.elsewhere.push_back(path);
        else if (!folder)
            plan.names.push_back(parts.name);
    }
    return plan;
}

MainFormLogic::MainFormLogic(MainFormView& view, FileSystem& fs) : fView(view), fFs(fs) {}

ConversionSwitches MainFormLogic::Switches() const
{
    ConversionSwitches switches;
    switches.recodeTexts = fView.Checked(MainControl::CodeChBox);
    switches.textDirection = fView.Checked(MainControl::LWButton) ? kLatinToWindows : kWindowsToLatin;
    switches.palette16 = fView.Checked(MainControl::ColorChBox);
    switches.palette256 = fView.Checked(MainControl::ColorChBox256);
    switches.colourDirection = fView.Checked(MainControl::SAButton) ? kTarnixToAutocad : kAutocadToTarnix;
    switches.keepBackup = fView.Checked(MainControl::OldChBox);
    return switches;
}

PassReport MainFormLogic::Convert(const std::string& fileName)
{
    ProgressSink progress;
    if (fPBarForm)
        progress = [form = fPBarForm](int percent) { form->SetGauge(percent); };
    return dxfkonv::Convert(fView.Directory(), fileName, Switches(), progress, fFs, &fBatch,
                            [this](const std::string& codePage) { return ConvertAgain(codePage); });
}

bool MainFormLogic::ConvertAgain(const std::string& codePage)
{
    return fView.AskYesNo(ConvertAgainQuestion(fShownName, codePage));
}

unsigned char MainFormLogic::ConvertChar(const TextDirection& direction, unsigned char c) const
{
    return dxfkonv::ConvertChar(direction, c);
}

int MainFormLogic::ConvertColor(const ColourDirection& direction, int colour, bool palette16) const
{
    return dxfkonv::ConvertColor(direction, colour, palette16);
}

void MainFormLogic::FormCreate()
{
    for (const auto& start : kStartStates)
        fView.SetChecked(start.control, start.checked);
    for (const MainControl control : kAllControls)
        fView.SetEnabled(control, true);
}

void MainFormLogic::CodeChBoxClick()
{
    const bool on = fView.Checked(MainControl::CodeChBox);
    fView.SetEnabled(MainControl::LWButton, on);
    fView.SetEnabled(MainControl::WLButton, on);
    if (on)
        fView.SetEnabled(MainControl::ConvertButton, true);
    else if (!fView.Checked(MainControl::ColorChBox) && !fView.Checked(MainControl::ColorChBox256))
        fView.SetEnabled(MainControl::ConvertButton, false);
}

void MainFormLogic::ColorChBoxClick()
{
    PaletteBoxClicked(MainControl::ColorChBox, MainControl::ColorChBox256);
}

void MainFormLogic::ColorChBox256Click()
{
    PaletteBoxClicked(MainControl::ColorChBox256, MainControl::ColorChBox);
}

// The two palette boxes exclude each other; the colour directions, and
// with the text box the "Konverze" button, follow whichever is checked.
void MainFormLogic::PaletteBoxClicked(MainControl clicked, MainControl other)
{
    if (fView.Checked(clicked)) {
        fView.SetChecked(other, false);  // runs the other box's handler, which changes nothing more
        fView.SetEnabled(MainControl::SAButton, true);
        fView.SetEnabled(MainControl::ASButton, true);
        fView.SetEnabled(MainControl::ConvertButton, true);
    } else if (fView.Checked(other)) {
        fView.SetEnabled(MainControl::SAButton, true);
        fView.SetEnabled(MainControl::ASButton, true);
    } else {
        fView.SetEnabled(MainControl::SAButton, false);
        fView.SetEnabled(MainControl::ASButton, false);
        if (!fView.Checked(MainControl::CodeChBox))
            fView.SetEnabled(MainControl::ConvertButton, false);
    }
}

void MainFormLogic::ConvertButtonClick()
{
    const int n = fView.FileCount();
    if (n == 0)
        return;

    struct Busy {
        MainFormLogic& logic;
        explicit Busy(MainFormLogic& l) : logic(l)
        {
            logic.fConverting = true;
            // Drawings are put in place a group at a time; their outcomes
            // arrive here, on the window's thread.
            logic.fBatch = Batch([&l](const Batch::Outcome& outcome) { l.DrawingDone(outcome); },
                                 Batch::Threads::kCallers);
            logic.fFailure = nullptr;
            logic.fRefused.clear();
            logic.fLost.clear();
        }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
        ~Busy()
        {
            logic.fBatch.flush();
            logic.fBatch = {};
            logic.fConverting = false;
            logic.fView.BatchEnded();
        }
    } busy(*this);

    for (int i = 0; i < n && !fFailure; ++i) {
        if (!fView.FileSelected(i))
            continue;
        ConvertDrawing(i);
        // Its pass is over: the progress window goes, unless the drawing
        // failed, which leaves it up.
        if (!fFailure && fPBarForm)
            fPBarForm->Hide();
    }
    fBatch.finish();
    ShowSummary();
    if (fFailure)
        std::rethrow_exception(fFailure);
}

void MainFormLogic::HandOver(const std::vector<std::string>& paths)
{
    if (fConverting || paths.empty())
        return;
    const HandOverPlan plan = PlanHandOver(paths, fFs);
    HandOverLeftOut leftOut{plan.missing, plan.unreadable, plan.elsewhere, {}};
    if (!plan.directory.empty()) {
        fView.ShowDirectory(plan.directory);
        for (const std::string& name : plan.names) {
            const int index = FileIndex(name);
            if (index >= 0)
                fView.SelectFile(index);
            else
                leftOut.notDrawings.push_back(name);
        }
    }
    const std::string text = HandOverText(leftOut);
    if (!text.empty())
        fView.ShowMessage(text);
}

// The file list's item for the file `name` of its directory: by the name
// as stored, or else (a name spelt in another letter case where the file
// system ignores case) the item the system takes for the same file; -1
// when the list does not show it.
int MainFormLogic::FileIndex(const std::string& name)
{
    const int n = fView.FileCount();
    for (int i = 0; i < n; ++i)
        if (fView.FileName(i) == name)
            return i;
    try {
        const std::unique_ptr<Directory> directory = fFs.openDirectory(fView.Directory());
        if (!directory)
            return -1;
        const std::optional<FileState> wanted = directory->lookUp(name);
        if (!wanted)
            return -1;
        for (int i = 0; i < n; ++i) {
            const std::optional<FileState> listed = directory->lookUp(fView.FileName(i));
            if (listed && listed->key == wanted->key)
                return i;
        }
    } catch (const IoError&) {
    }
    return -1;
}

void MainFormLogic::ShowSummary()
{
    const std::string text = BatchSummaryText(fRefused, fLost);
    if (!text.empty())
        fView.ShowMessage(text);
}

void MainFormLogic::ConvertDrawing(int index)
{
    fShownName = fView.FileText(index);
    if (fPBarForm) {
        fPBarForm->SetCaption(ProgressCaption(fShownName));
        fPBarForm->SetGauge(0);
        fPBarForm->ShowDrawn();
    }
    // The outcome, this drawing's or an earlier one's, comes through the
    // batch.
    Convert(fView.FileName(index));
}

void MainFormLogic::DrawingDone(const Batch::Outcome& outcome)
{
    const int index = FileIndex(outcome.drawing.name);
    const std::string shownName = index >= 0 ? fView.FileText(index) : outcome.drawing.name;
    // A drawing the pass refuses stays selected, and the batch goes on.
    if (outcome.failure) {
        try {
            std::rethrow_exception(outcome.failure);
        } catch (const Refusal& refusal) {
            fRefused.push_back({shownName, ErrorText(refusal)});
            return;
        } catch (...) {
        }
        // Any other failure stops the batch: its file and the later ones
        // stay selected and untouched, and the progress window up until
        // the next pass hides it or the user closes it.
        fFailure = outcome.failure;
        fBatch.drop();
        return;
    }
    // Converted, or not found, or met before in the batch: done with either way.
    const PassReport& report = outcome.report;
    if (report.charsLost != 0)
        fLost.push_back({shownName, report.charsLost, report.lostCharLines,
                         report.lostCharLines.size() == PassReport::kMaxLostLines});
    if (index >= 0)
        fView.DeselectFile(index);
}

}  // namespace dxfkonv
