// The form logic without a window: the switches' start states and rules,
// the switches read from the controls, the batch over real files in a
// scratch directory, and the texts of the message boxes. The views are
// fakes that note what they are asked to do.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/IoError.h"
#include "TestFiles.h"
#include "TinyDrawing.h"
#include "ui/logic/MainFormLogic.h"
#include "ui/logic/Messages.h"

namespace dxfkonv {
namespace {

using Log = std::vector<std::string>;

// The main window as a toolkit would keep it: a check box's change runs
// its handler, a radio button checked unchecks its partner.
class FakeMainForm : public MainFormView {
public:
    struct File {
        std::string name;
        bool selected;
    };

    explicit FakeMainForm(Log& calls) : log(calls) {}

    Log& log;
    MainFormLogic logic{*this};
    std::map<MainControl, bool> checked, enabled;
    std::vector<File> files;
    std::string directory;

    // What the user does.
    void Click(MainControl control)
    {
        const bool radio = control == MainControl::LWButton || control == MainControl::WLButton
                           || control == MainControl::SAButton || control == MainControl::ASButton;
        SetChecked(control, radio || !checked[control]);
    }

    bool Checked(MainControl control) const override { return checked.at(control); }
    void SetChecked(MainControl control, bool on) override
    {
        if (checked[control] == on)
            return;
        checked[control] = on;
        if (on && partner.count(control))
            checked[partner.at(control)] = false;
        if (control == MainControl::CodeChBox)
            logic.CodeChBoxClick();
        else if (control == MainControl::ColorChBox)
            logic.ColorChBoxClick();
        else if (control == MainControl::ColorChBox256)
            logic.ColorChBox256Click();
    }
    void SetEnabled(MainControl control, bool on) override { enabled[control] = on; }
    int FileCount() const override { return static_cast<int>(files.size()); }
    bool FileSelected(int index) const override { return files.at(static_cast<std::size_t>(index)).selected; }
    std::string FileText(int index) const override { return files.at(static_cast<std::size_t>(index)).name; }
    std::string FileName(int index) const override { return FileText(index); }
    void DeselectFile(int index) override
    {
        files.at(static_cast<std::size_t>(index)).selected = false;
        log.push_back("deselect " + FileText(index));
    }
    std::string Directory() const override { return directory; }
    void ShowMessage(const std::string& text) override { log.push_back("message " + text); }
    bool AskYesNo(const std::string& question) override
    {
        log.push_back("ask " + question);
        return false;
    }
    void BatchEnded() override { log.push_back("batch ended"); }

private:
    const std::map<MainControl, MainControl> partner{
        {MainControl::LWButton, MainControl::WLButton}, {MainControl::WLButton, MainControl::LWButton},
        {MainControl::SAButton, MainControl::ASButton}, {MainControl::ASButton, MainControl::SAButton}};
};

// The progress window: the gauge's climb during a pass is one entry,
// "gauge up to N", its values kept apart, one climb for each showing.
class FakePBarForm : public PBarFormView {
public:
    explicit FakePBarForm(Log& calls) : log(calls) {}

    Log& log;
    std::vector<std::vector<int>> climbs;

    void SetCaption(const std::string& caption) override { log.push_back("caption " + caption); }
    void SetGauge(int value) override
    {
        if (value == 0) {
            log.push_back("gauge 0");
            return;
        }
        if (!climbs.empty())
            climbs.back().push_back(value);
        if (log.empty() || log.back().rfind("gauge up to ", 0) != 0)
            log.push_back({});
        log.back() = "gauge up to " + std::to_string(value);
    }
    void ShowDrawn() override
    {
        log.push_back("show");
        climbs.emplace_back();
    }
    void Hide() override { log.push_back("hide"); }
};

// A fresh window, all off until FormCreate.
class FormLogicTest : public ::testing::Test {
protected:
    FormLogicTest()
    {
        for (const auto control : {MainControl::CodeChBox, MainControl::LWButton, MainControl::WLButton,
                                   MainControl::ColorChBox, MainControl::ColorChBox256, MainControl::SAButton,
                                   MainControl::ASButton, MainControl::OldChBox, MainControl::ConvertButton}) {
            fForm.checked[control] = false;
            fForm.enabled[control] = false;
        }
        fForm.logic.FormCreate();
        fForm.logic.SetPBarForm(&fPBar);
        fForm.directory = fDir.path();
    }

    // Files in the list, in list order, each holding the tiny drawing.
    void List(const std::vector<std::string>& names, const std::set<std::string>& selected)
    {
        for (const std::string& name : names) {
            test::writeFile(fDir.file(name), test::kTiny);
            fForm.files.push_back({name, selected.count(name) != 0});
        }
    }

    std::vector<std::string> Selected() const
    {
        std::vector<std::string> names;
        for (const auto& file : fForm.files)
            if (file.selected)
                names.push_back(file.name);
        return names;
    }

    Log fLog;
    FakeMainForm fForm{fLog};
    FakePBarForm fPBar{fLog};
    test::TempDir fDir;
};

// ---------------------------------------------------------------------------
// Switches

TEST_F(FormLogicTest, FormCreateGivesTheStartStatesAndEnablesEveryControl)
{
    const std::map<MainControl, bool> startChecked{
        {MainControl::CodeChBox, true}, {MainControl::LWButton, true},      {MainControl::WLButton, false},
        {MainControl::ColorChBox, false}, {MainControl::ColorChBox256, true}, {MainControl::SAButton, true},
        {MainControl::ASButton, false}, {MainControl::OldChBox, true},      {MainControl::ConvertButton, false}};
    EXPECT_EQ(fForm.checked, startChecked);
    for (const auto& [control, on] : fForm.enabled)
        EXPECT_TRUE(on) << static_cast<int>(control);
}

TEST_F(FormLogicTest, SwitchesAreReadFromTheControls)
{
    const struct {
        const char* name;
        std::vector<MainControl> clicks;
        ConversionSwitches expected;
    } rows[] = {
        {"the start state", {}, {true, "lw", false, true, "sa", true}},
        {"WLButton", {MainControl::WLButton}, {true, "wl", false, true, "sa", true}},
        {"CodeChBox", {MainControl::CodeChBox}, {false, "lw", false, true, "sa", true}},
        {"ColorChBox", {MainControl::ColorChBox}, {true, "lw", true, false, "sa", true}},
        {"ColorChBox256", {MainControl::ColorChBox256}, {true, "lw", false, false, "sa", true}},
        {"ASButton", {MainControl::ASButton}, {true, "lw", false, true, "as", true}},
        {"OldChBox", {MainControl::OldChBox}, {true, "lw", false, true, "sa", false}},
        // A disabled direction keeps its value.
        {"all turned", {MainControl::WLButton, MainControl::ASButton, MainControl::CodeChBox,
                        MainControl::ColorChBox256, MainControl::OldChBox},
         {false, "wl", false, false, "as", false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Log log;
        FakeMainForm form(log);
        form.logic.FormCreate();
        for (const MainControl control : row.clicks)
            form.Click(control);
        const ConversionSwitches got = form.logic.Switches();
        EXPECT_EQ(got.recodeTexts, row.expected.recodeTexts);
        EXPECT_EQ(got.textDirection, row.expected.textDirection);
        EXPECT_EQ(got.palette16, row.expected.palette16);
        EXPECT_EQ(got.palette256, row.expected.palette256);
        EXPECT_EQ(got.colourDirection, row.expected.colourDirection);
        EXPECT_EQ(got.keepBackup, row.expected.keepBackup);
    }
}

// What the three check boxes and the dependent controls show.
struct SwitchState {
    bool code, palette16, palette256;
    bool textDirections, colourDirections, convert;

    bool operator==(const SwitchState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SwitchState& s)
{
    return out << "{code " << s.code << ", 16 " << s.palette16 << ", 256 " << s.palette256 << " | LW/WL "
               << s.textDirections << ", SA/AS " << s.colourDirections << ", Konverze " << s.convert << "}";
}

SwitchState stateOf(FakeMainForm& form)
{
    EXPECT_EQ(form.enabled[MainControl::LWButton], form.enabled[MainControl::WLButton]);
    EXPECT_EQ(form.enabled[MainControl::SAButton], form.enabled[MainControl::ASButton]);
    return {form.checked[MainControl::CodeChBox],    form.checked[MainControl::ColorChBox],
            form.checked[MainControl::ColorChBox256], form.enabled[MainControl::LWButton],
            form.enabled[MainControl::SAButton],      form.enabled[MainControl::ConvertButton]};
}

// The enabled controls that the rules give for a combination of the boxes.
SwitchState ruled(bool code, bool palette16, bool palette256)
{
    return {code, palette16, palette256, code, palette16 || palette256, code || palette16 || palette256};
}

// Every sequence of clicks over the three boxes, up to five long, ends in
// the state the rules give for the boxes' checked states; the palettes are
// never both checked.
TEST(FormLogicRules, EveryClickSequenceEndsInTheRuledState)
{
    constexpr std::size_t kLongest = 5;
    const MainControl boxes[] = {MainControl::CodeChBox, MainControl::ColorChBox, MainControl::ColorChBox256};
    std::set<std::vector<bool>> statesSeen;
    std::vector<int> sequence;
    int sequences = 0;
    const std::function<void()> extend = [&] {
        Log log;
        FakeMainForm form(log);
        form.logic.FormCreate();
        std::string trail;
        for (const int b : sequence) {
            form.Click(boxes[b]);
            trail += std::to_string(b) + " ";
            const SwitchState now = stateOf(form);
            ASSERT_EQ(now, ruled(now.code, now.palette16, now.palette256)) << trail;
            ASSERT_FALSE(now.palette16 && now.palette256) << trail;
            statesSeen.insert({now.code, now.palette16, now.palette256});
        }
        ++sequences;
        if (sequence.size() == kLongest)
            return;
        for (int b = 0; b < 3; ++b) {
            sequence.push_back(b);
            extend();
            sequence.pop_back();
        }
    };
    extend();
    EXPECT_EQ(sequences, 1 + 3 + 9 + 27 + 81 + 243);
    EXPECT_EQ(statesSeen.size(), 6u);  // two text states times three palette states
}

// ---------------------------------------------------------------------------
// The batch

TEST_F(FormLogicTest, TheBatchConvertsTheSelectedFilesInListOrderEachInItsOwnPass)
{
    List({"a.dxf", "b.dxf", "c.dxf", "d.dxf"}, {"d.dxf", "a.dxf", "b.dxf"});
    fForm.logic.ConvertButtonClick();

    EXPECT_EQ(fLog, (Log{"caption Konvertuje se soubor a.dxf", "gauge 0", "show", "gauge up to 100",
                         "deselect a.dxf", "hide",
                         "caption Konvertuje se soubor b.dxf", "gauge 0", "show", "gauge up to 100",
                         "deselect b.dxf", "hide",
                         "caption Konvertuje se soubor d.dxf", "gauge 0", "show", "gauge up to 100",
                         "deselect d.dxf", "hide",
                         "batch ended"}));
    ASSERT_EQ(fPBar.climbs.size(), 3u);
    for (const std::vector<int>& climb : fPBar.climbs)
        EXPECT_TRUE(std::is_sorted(climb.begin(), climb.end()));
    EXPECT_TRUE(Selected().empty());
    for (const auto& [name, backup] : {std::pair{"a.dxf", "a.old"}, {"b.dxf", "b.old"}, {"d.dxf", "d.old"}}) {
        EXPECT_EQ(test::readFile(fDir.file(name)), test::kTinyDefaults) << name;
        EXPECT_EQ(test::readFile(fDir.file(backup)), test::kTiny) << name;
    }
    EXPECT_EQ(test::readFile(fDir.file("c.dxf")), test::kTiny);
    EXPECT_FALSE(fForm.logic.Converting());
}

TEST_F(FormLogicTest, TheBatchReadsTheSwitchesAsTheyStand)
{
    fForm.Click(MainControl::CodeChBox);
    fForm.Click(MainControl::OldChBox);
    List({"a.dxf"}, {"a.dxf"});
    fForm.logic.ConvertButtonClick();
    EXPECT_EQ(test::readFile(fDir.file("a.dxf")), test::tinyDrawing("ANSI_1250", "7", "P%%130\xE8"));
    EXPECT_EQ(fDir.names(), (std::vector<std::string>{"a.dxf"}));
}

TEST_F(FormLogicTest, WithNothingSelectedTheBatchShowsNothing)
{
    List({"a.dxf", "b.dxf"}, {});
    fForm.logic.ConvertButtonClick();
    EXPECT_EQ(fLog, (Log{"batch ended"}));

    FakeMainForm empty(fLog);
    fLog.clear();
    empty.logic.ConvertButtonClick();
    EXPECT_TRUE(fLog.empty());
}

TEST_F(FormLogicTest, AFileNotFoundIsDeselectedLikeTheOthers)
{
    List({"a.dxf", "b.dxf"}, {"a.dxf", "b.dxf"});
    ASSERT_EQ(std::remove(fDir.file("a.dxf").c_str()), 0);
    fForm.logic.ConvertButtonClick();
    EXPECT_EQ(fLog, (Log{"caption Konvertuje se soubor a.dxf", "gauge 0", "show", "deselect a.dxf", "hide",
                         "caption Konvertuje se soubor b.dxf", "gauge 0", "show", "gauge up to 100",
                         "deselect b.dxf", "hide", "batch ended"}));
}

// Today a refused drawing stops the batch like an I/O error.
TEST_F(FormLogicTest, AFailureStopsTheBatchWithTheProgressWindowUpAndGoesOnOut)
{
    const std::string binary = std::string("AutoCAD Binary DXF\r\n\x1A\0", 22) + test::kTiny;
    const struct {
        const char* name;
        std::function<void(const std::string& path)> spoil;
        int code;
    } rows[] = {
        {"no write permission", [](const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0444), 0); },
         kFileAccessDenied},
        {"a binary drawing", [&](const std::string& path) { test::writeFile(path, binary); }, kNotAsciiDxf},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        Log log;
        FakeMainForm form(log);
        FakePBarForm pbar(log);
        form.logic.FormCreate();
        form.logic.SetPBarForm(&pbar);
        form.directory = dir.path();
        for (const char* name : {"a.dxf", "b.dxf", "c.dxf"}) {
            test::writeFile(dir.file(name), test::kTiny);
            form.files.push_back({name, true});
        }
        row.spoil(dir.file("b.dxf"));

        try {
            form.logic.ConvertButtonClick();
            ADD_FAILURE() << "nothing thrown";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), row.code);
        }
        EXPECT_EQ(log, (Log{"caption Konvertuje se soubor a.dxf", "gauge 0", "show", "gauge up to 100",
                            "deselect a.dxf", "hide", "caption Konvertuje se soubor b.dxf", "gauge 0", "show",
                            "batch ended"}));
        EXPECT_TRUE(form.files[1].selected && form.files[2].selected);
        EXPECT_EQ(test::readFile(dir.file("c.dxf")), test::kTiny);
        EXPECT_FALSE(form.logic.Converting());
    }
}

// ---------------------------------------------------------------------------
// Texts

TEST(FormLogicTexts, TheErrorBoxSaysWhatWentWrongCzechForARefusedDrawing)
{
    const struct {
        std::exception_ptr failure;
        const char* text;
    } rows[] = {
        {std::make_exception_ptr(IoError(kFileAccessDenied)), "File access denied."},
        {std::make_exception_ptr(IoError(kDiskFull)), "Disk full."},
        {std::make_exception_ptr(IoError(32)), "I/O error 32."},
        {std::make_exception_ptr(Refusal(kNotAsciiDxf)), "Soubor není textový (ASCII) soubor DXF."},
        {std::make_exception_ptr(Refusal(kTextsInUtf8)),
         "Texty výkresu jsou v kódování UTF-8 (AutoCAD 2007 nebo novější). Uložte výkres jako starší verzi DXF, "
         "nebo vypněte Konverzi češtiny."},
        {std::make_exception_ptr(IoError(kChangedMeanwhile)),
         "Soubor změnil během konverze jiný program; nic nebylo nahrazeno."},
        {std::make_exception_ptr(std::runtime_error("Out of memory")), "Out of memory"},
        {std::make_exception_ptr(42), "Neznámá chyba."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FailureText(row.failure), row.text);
}

TEST(FormLogicTexts, CaptionAndFileChoiceMessagesNameTheirObject)
{
    EXPECT_EQ(ProgressCaption("PLAN.DXF"), "Konvertuje se soubor PLAN.DXF");
    EXPECT_EQ(CannotOpenDirectoryText("/mnt/výkresy"), "Adresář /mnt/výkresy nelze otevřít.");
    EXPECT_EQ(CannotReadVolumeText("/media/usb"), "Souborový systém /media/usb nelze číst.");
}

}  // namespace
}  // namespace dxfkonv
