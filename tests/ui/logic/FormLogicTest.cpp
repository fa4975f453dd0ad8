// The form logic without a window: the switches' start states and rules,
// the switches read from the controls, the batch over real files in a
// scratch directory, and the texts of the message boxes. The views are
// fakes that note what they are asked to do.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/IoError.h"
#include "engine/replace/Drawings.h"
#include "TestFiles.h"
#include "TinyDrawing.h"
#include "ui/logic/MainFormLogic.h"
#include "ui/logic/Messages.h"

namespace dxfkonv {
namespace {

using Log = std::vector<std::string>;
using C = MainControl;

// The main window as a toolkit keeps it: a check box's change runs its
// handler, a radio button checked unchecks its partner. All off at first.
class FakeMainForm : public MainFormView {
public:
    struct File {
        std::string name;
        bool selected;
    };

    explicit FakeMainForm(Log& calls) : log(calls) {}

    Log& log;
    MainFormLogic logic{*this, SystemFileSystem()};
    std::map<C, bool> checked, enabled;
    std::vector<File> files;
    std::string directory;

    void Click(C control)  // as the user does
    {
        const bool radio = control == C::LWButton || control == C::WLButton || control == C::SAButton
                           || control == C::ASButton;
        SetChecked(control, radio || !Checked(control));
    }

    bool Checked(C control) const override { return checked.count(control) && checked.at(control); }
    void SetChecked(C control, bool on) override
    {
        if (Checked(control) == on)
            return;
        checked[control] = on;
        const std::map<C, C> partner{{C::LWButton, C::WLButton}, {C::WLButton, C::LWButton},
                                     {C::SAButton, C::ASButton}, {C::ASButton, C::SAButton}};
        if (on && partner.count(control))
            checked[partner.at(control)] = false;
        if (control == C::CodeChBox)
            logic.CodeChBoxClick();
        else if (control == C::ColorChBox)
            logic.ColorChBoxClick();
        else if (control == C::ColorChBox256)
            logic.ColorChBox256Click();
    }
    void SetEnabled(C control, bool on) override { enabled[control] = on; }
    int FileCount() const override { return static_cast<int>(files.size()); }
    bool FileSelected(int i) const override { return files.at(static_cast<std::size_t>(i)).selected; }
    std::string FileText(int i) const override { return files.at(static_cast<std::size_t>(i)).name; }
    std::string FileName(int i) const override { return FileText(i); }
    void DeselectFile(int i) override
    {
        files.at(static_cast<std::size_t>(i)).selected = false;
        log.push_back("deselect " + FileText(i));
    }
    std::string Directory() const override { return directory; }
    // The directory's drawings as the file list shows them, by name.
    void ShowDirectory(const std::string& shown) override
    {
        log.push_back("show " + shown);
        directory = shown;
        std::vector<std::string> names = ListDirectory(shown, SystemFileSystem()).drawings;
        std::sort(names.begin(), names.end());
        files.clear();
        for (const std::string& name : names)
            files.push_back({name, false});
    }
    void SelectFile(int i) override
    {
        files.at(static_cast<std::size_t>(i)).selected = true;
        log.push_back("select " + FileText(i));
    }
    void ShowMessage(const std::string& text) override { log.push_back("message " + text); }
    bool AskYesNo(const std::string& question) override
    {
        log.push_back("ask " + question);
        return false;
    }
    void BatchEnded() override { log.push_back("batch ended"); }
};

// The progress window; of the gauge's climb during a pass only its ends
// are noted.
class FakePBarForm : public PBarFormView {
public:
    explicit FakePBarForm(Log& calls) : log(calls) {}

    Log& log;

    void SetCaption(const std::string& caption) override { log.push_back("caption " + caption); }
    void SetGauge(int value) override
    {
        if (value == 0 || value == 100)
            log.push_back("gauge " + std::to_string(value));
    }
    void ShowDrawn() override { log.push_back("show"); }
    void Hide() override { log.push_back("hide"); }
};

// Both windows after FormCreate, over a scratch directory.
struct Windows {
    Windows()
    {
        form.logic.FormCreate();
        form.logic.SetPBarForm(&pbar);
        form.directory = dir.path();
    }

    // Files in the list, in list order, each holding the tiny drawing.
    void List(const std::vector<std::string>& names, const std::set<std::string>& selected)
    {
        for (const std::string& name : names) {
            test::writeFile(dir.file(name), test::kTiny);
            form.files.push_back({name, selected.count(name) != 0});
        }
    }

    test::TempDir dir;
    Log log;
    FakeMainForm form{log};
    FakePBarForm pbar{log};
};

// ---------------------------------------------------------------------------
// Switches

TEST(FormLogic, FormCreateGivesTheStartStatesAndEnablesEveryControl)
{
    Windows w;
    std::set<C> on;
    for (const auto& [control, checked] : w.form.checked)
        if (checked)
            on.insert(control);
    EXPECT_EQ(on, (std::set<C>{C::CodeChBox, C::LWButton, C::ColorChBox256, C::SAButton, C::OldChBox}));
    EXPECT_EQ(w.form.enabled.size(), 9u);
    for (const auto& [control, enabled] : w.form.enabled)
        EXPECT_TRUE(enabled) << static_cast<int>(control);
}

std::string describe(const ConversionSwitches& s)
{
    return (s.recodeTexts ? "texts " : "no texts ") + s.textDirection + " | "
           + (s.palette16 ? "16 " : "") + (s.palette256 ? "256 " : "") + s.colourDirection
           + (s.keepBackup ? " | backup" : "");
}

TEST(FormLogic, SwitchesAreReadFromTheControls)
{
    const struct {
        std::vector<C> clicks;
        const char* expected;
    } rows[] = {
        {{}, "texts lw | 256 sa | backup"},
        {{C::WLButton}, "texts wl | 256 sa | backup"},
        {{C::CodeChBox}, "no texts lw | 256 sa | backup"},
        {{C::ColorChBox}, "texts lw | 16 sa | backup"},
        {{C::ColorChBox256}, "texts lw | sa | backup"},
        {{C::ASButton}, "texts lw | 256 as | backup"},
        {{C::OldChBox}, "texts lw | 256 sa"},
        // A disabled direction keeps its value.
        {{C::WLButton, C::ASButton, C::CodeChBox, C::ColorChBox256}, "no texts wl | as | backup"},
    };
    for (const auto& row : rows) {
        Windows w;
        for (const C control : row.clicks)
            w.form.Click(control);
        EXPECT_EQ(describe(w.form.logic.Switches()), row.expected);
    }
}

// What the three check boxes and the dependent controls show.
using SwitchState = std::vector<bool>;

SwitchState stateOf(FakeMainForm& f)
{
    EXPECT_EQ(f.enabled[C::LWButton], f.enabled[C::WLButton]);
    EXPECT_EQ(f.enabled[C::SAButton], f.enabled[C::ASButton]);
    return {f.checked[C::CodeChBox], f.checked[C::ColorChBox],  f.checked[C::ColorChBox256],
            f.enabled[C::LWButton],  f.enabled[C::SAButton],    f.enabled[C::ConvertButton]};
}

// The enabled controls that the rules give for a combination of the boxes.
SwitchState ruled(bool code, bool palette16, bool palette256)
{
    return {code, palette16, palette256, code, palette16 || palette256, code || palette16 || palette256};
}

// Every sequence of clicks over the three boxes, up to five long, ends in
// the state the rules give for the boxes' checked states; the palettes are
// never both checked.
TEST(FormLogic, EveryClickSequenceEndsInTheRuledState)
{
    constexpr std::size_t kLongest = 5;
    const C boxes[] = {C::CodeChBox, C::ColorChBox, C::ColorChBox256};
    std::set<SwitchState> statesSeen;
    std::vector<int> sequence;
    int sequences = 0;
    const std::function<void()> extend = [&] {
        Windows w;
        std::string trail;
        for (const int b : sequence) {
            w.form.Click(boxes[b]);
            trail += std::to_string(b) + " ";
            const SwitchState now = stateOf(w.form);
            ASSERT_EQ(now, ruled(now[0], now[1], now[2])) << trail;
            ASSERT_FALSE(now[1] && now[2]) << trail;
            statesSeen.insert({now[0], now[1], now[2]});
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

TEST(FormLogicBatch, ConvertsTheSelectedFilesInListOrderEachInItsOwnPass)
{
    Windows w;
    w.List({"a.dxf", "b.dxf", "c.dxf", "d.dxf"}, {"d.dxf", "a.dxf", "b.dxf"});
    w.form.logic.ConvertButtonClick();

    // The drawings are put in place together, once their passes are over.
    EXPECT_EQ(w.log, (Log{"caption Konvertuje se soubor a.dxf", "gauge 0", "show", "gauge 100", "hide",
                          "caption Konvertuje se soubor b.dxf", "gauge 0", "show", "gauge 100", "hide",
                          "caption Konvertuje se soubor d.dxf", "gauge 0", "show", "gauge 100", "hide",
                          "deselect a.dxf", "deselect b.dxf", "deselect d.dxf", "batch ended"}));
    EXPECT_EQ(w.dir.names(), (std::vector<std::string>{"a.dxf", "a.old", "b.dxf", "b.old", "c.dxf", "d.dxf",
                                                       "d.old"}));
    for (const char* name : {"a.dxf", "b.dxf", "d.dxf"})
        EXPECT_EQ(test::readFile(w.dir.file(name)), test::kTinyDefaults) << name;
    EXPECT_EQ(test::readFile(w.dir.file("a.old")), test::kTiny);
    EXPECT_FALSE(w.form.logic.Converting());
}

TEST(FormLogicBatch, ConvertsWithTheSwitchesAsTheyStand)
{
    Windows w;
    w.form.Click(C::CodeChBox);
    w.form.Click(C::OldChBox);
    w.List({"a.dxf"}, {"a.dxf"});
    w.form.logic.ConvertButtonClick();
    EXPECT_EQ(test::readFile(w.dir.file("a.dxf")), test::tinyDrawing("ANSI_1250", "7", "P%%130\xE8"));
    EXPECT_EQ(w.dir.names(), (std::vector<std::string>{"a.dxf"}));
}

TEST(FormLogicBatch, WithNothingSelectedShowsNothingAndAFileNotFoundIsDeselected)
{
    Windows w;
    w.form.logic.ConvertButtonClick();  // an empty list
    EXPECT_TRUE(w.log.empty());

    w.List({"a.dxf", "b.dxf"}, {});
    w.form.logic.ConvertButtonClick();
    EXPECT_EQ(w.log, (Log{"batch ended"}));

    w.log.clear();
    w.form.files[0].selected = true;
    ASSERT_EQ(std::remove(w.dir.file("a.dxf").c_str()), 0);
    w.form.logic.ConvertButtonClick();
    EXPECT_EQ(w.log, (Log{"caption Konvertuje se soubor a.dxf", "gauge 0", "show", "deselect a.dxf", "hide",
                          "batch ended"}));
}

// A refused drawing stops the batch like an I/O error, for now.
TEST(FormLogicBatch, AFailureStopsTheBatchWithTheProgressWindowUpAndIsThrownOn)
{
    const struct {
        std::function<void(const std::string& path)> spoil;
        int code;
    } rows[] = {
        {[](const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0444), 0); }, kFileAccessDenied},
    };
    for (const auto& row : rows) {
        Windows w;
        w.List({"a.dxf", "b.dxf", "c.dxf"}, {"a.dxf", "b.dxf", "c.dxf"});
        row.spoil(w.dir.file("b.dxf"));
        try {
            w.form.logic.ConvertButtonClick();
            ADD_FAILURE() << "nothing thrown";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), row.code);
        }
        // a is put in place before b's failure is heard of.
        EXPECT_EQ(w.log, (Log{"caption Konvertuje se soubor a.dxf", "gauge 0", "show", "gauge 100", "hide",
                              "caption Konvertuje se soubor b.dxf", "gauge 0", "show", "deselect a.dxf",
                              "batch ended"}));
        EXPECT_TRUE(w.form.files[1].selected && w.form.files[2].selected);
        EXPECT_EQ(test::readFile(w.dir.file("c.dxf")), test::kTiny);
        EXPECT_FALSE(w.form.logic.Converting());
    }
}

TEST(FormLogicBatch, ARefusedDrawingStaysSelectedAndTheBatchGoesOn)
{
    const struct {
        const char* rule;
        std::string content;
        bool answer;  // to the question, where one is asked
        Log log;
    } rows[] = {
        {"not a text DXF file", std::string("AutoCAD Binary DXF\r\n\x1A\0", 22), false,
         {"caption Konvertuje se soubor b.dxf", "gauge 0", "show", "hide", "caption Konvertuje se soubor c.dxf",
          "gauge 0", "show", "gauge 100", "hide", "deselect c.dxf",
          "message Tyto výkresy nebyly konvertovány:\n\nb.dxf: Soubor není textový (ASCII) soubor DXF.",
          "batch ended"}},
        {"converted before, answered Ne", test::kTinyDefaults, false,
         {"caption Konvertuje se soubor b.dxf", "gauge 0", "show", "gauge 100",
          "ask Výkres b.dxf už deklaruje kódovou stránku ANSI_1250, byl tedy nejspíš už konvertován. Další "
          "konverze by poškodila jeho texty a barvy a přepsala jeho zálohu. Přesto konvertovat?",
          "hide", "caption Konvertuje se soubor c.dxf", "gauge 0", "show", "gauge 100", "hide", "deselect c.dxf",
          "message Tyto výkresy nebyly konvertovány:\n\nb.dxf: Výkres už deklaruje kódovou stránku ANSI_1250, "
          "byl nejspíš už konvertován.",
          "batch ended"}},
    };
    for (const auto& row : rows) {
        Windows w;
        w.List({"b.dxf", "c.dxf"}, {"b.dxf", "c.dxf"});
        test::writeFile(w.dir.file("b.dxf"), row.content);
        w.form.logic.ConvertButtonClick();
        EXPECT_EQ(w.log, row.log) << row.rule;
        EXPECT_TRUE(w.form.files[0].selected) << row.rule;
        EXPECT_EQ(test::readFile(w.dir.file("b.dxf")), row.content) << row.rule;
        EXPECT_EQ(test::readFile(w.dir.file("c.dxf")), test::kTinyDefaults) << row.rule;
    }
}

TEST(FormLogicBatch, TheSummaryListsTheDrawingsWhereCharactersBecameSpaces)
{
    // 0xB0 and 0xB2 have no counterpart in code page 1250: each becomes a space.
    const std::string lossy = test::tinyDrawing("ANSI_1252", "     1", "P\xB0%%130\xB2");
    Windows w;
    w.List({"a.dxf", "b.dxf", "c.dxf"}, {"a.dxf", "b.dxf", "c.dxf"});
    test::writeFile(w.dir.file("a.dxf"), lossy);
    test::writeFile(w.dir.file("b.dxf"), std::string("AutoCAD Binary DXF\r\n\x1A\0", 22));
    w.form.logic.ConvertButtonClick();
    ASSERT_GE(w.log.size(), 2u);
    EXPECT_EQ(w.log[w.log.size() - 2],
              "message Tyto výkresy nebyly konvertovány:\n\nb.dxf: Soubor není textový (ASCII) soubor DXF.\n\n"
              "V těchto výkresech se znaky, které cílová kódová stránka nemá, změnily na mezery:\n\n"
              "a.dxf: 2 znaky (řádek 20)");
    EXPECT_EQ(test::readFile(w.dir.file("a.dxf")), test::tinyDrawing("ANSI_1250", "7", "P \xE9 "));
    EXPECT_FALSE(w.form.files[0].selected);

    // A batch where every drawing converted cleanly ends without a message.
    Windows clean;
    clean.List({"a.dxf"}, {"a.dxf"});
    clean.form.logic.ConvertButtonClick();
    for (const std::string& entry : clean.log)
        EXPECT_NE(entry.rfind("message", 0), 0u) << entry;
}

// A drawing whose backup name another file of its folder has ("b" backs
// up to "b.old" as well, on every file system) is refused and stays
// selected; the batch goes on, and without a backup it is converted.
TEST(FormLogicBatch, DrawingsSharingABackupNameAreRefusedUnlessThereIsNoBackup)
{
    Windows w;
    w.List({"b.dxf", "c.dxf"}, {"b.dxf", "c.dxf"});
    test::writeFile(w.dir.file("b"), test::kTiny);
    w.form.logic.ConvertButtonClick();
    EXPECT_EQ(w.log, (Log{"caption Konvertuje se soubor b.dxf", "gauge 0", "show", "hide",
                          "caption Konvertuje se soubor c.dxf", "gauge 0", "show", "gauge 100", "hide",
                          "deselect c.dxf",
                          "message Tyto výkresy nebyly konvertovány:\n\n"
                          "b.dxf: Výkres má stejný název zálohy b.old jako b; konvertujte ho bez zálohy, nebo "
                          "jeden z nich přejmenujte.",
                          "batch ended"}));
    EXPECT_TRUE(w.form.files[0].selected);
    EXPECT_EQ(w.dir.names(), (std::vector<std::string>{"b", "b.dxf", "c.dxf", "c.old"}));

    w.log.clear();
    w.form.Click(C::OldChBox);  // off
    ASSERT_FALSE(w.form.Checked(C::OldChBox));
    w.form.logic.ConvertButtonClick();
    EXPECT_FALSE(w.form.files[0].selected);
    EXPECT_EQ(test::readFile(w.dir.file("b.dxf")), test::kTinyDefaults);
    EXPECT_EQ(test::readFile(w.dir.file("b")), test::kTiny);
    EXPECT_EQ(w.dir.names(), (std::vector<std::string>{"b", "b.dxf", "c.dxf", "c.old"}));
}

// ---------------------------------------------------------------------------
// Drawings handed to the window

TEST(FormLogicHandOver, ShowsTheFirstPathsDirectorySelectsItsDrawingsAndSaysWhatItLeftOut)
{
    test::TempDir dir;
    for (const char* sub : {"sub", "other"})
        std::filesystem::create_directory(std::filesystem::u8path(dir.file(sub)));
    for (const char* name : {"a.dxf", "b.DXF", "notes.txt", "sub/c.dxf", "other/d.dxf"})
        test::writeFile(dir.file(name), test::kTiny);
    // "sub/c.dxf" with the platform's separator, under the scratch directory;
    // "" is the scratch directory itself.
    const auto p = [&dir](std::string path) {
#ifdef _WIN32
        std::replace(path.begin(), path.end(), '/', '\\');
#endif
        return path.empty() ? dir.path() : dir.file(path);
    };
    const std::string other = "message Výkresy z jiných adresářů nebyly vybrány:\n\n";
    const struct {
        std::vector<std::string> paths;
        Log log;
    } rows[] = {
        {{}, {}},
        {{"a.dxf", "b.DXF"}, {"show " + p(""), "select a.dxf", "select b.DXF"}},
        {{"sub"}, {"show " + p("sub")}},
        {{"sub", "sub/c.dxf"}, {"show " + p("sub"), "select c.dxf"}},
        {{"a.dxf", "sub/c.dxf", "other"},
         {"show " + p(""), "select a.dxf", other + p("sub/c.dxf") + "\n" + p("other")}},
        {{"sub/c.dxf", "a.dxf", "b.DXF"}, {"show " + p("sub"), "select c.dxf", other + p("a.dxf") + "\n" + p("b.DXF")}},
        {{"gone.dxf", "sub/c.dxf"},
         {"show " + p("sub"), "select c.dxf", "message Tyto soubory ani adresáře neexistují:\n\n" + p("gone.dxf")}},
        {{"gone/x.dxf"}, {"message Tyto soubory ani adresáře neexistují:\n\n" + p("gone/x.dxf")}},
        {{"notes.txt", "a.dxf"},
         {"show " + p(""), "select a.dxf", "message Tyto soubory nejsou výkresy DXF a nebyly vybrány:\n\nnotes.txt"}},
        {{"a.dxf", "gone.dxf", "other/d.dxf", "notes.txt"},
         {"show " + p(""), "select a.dxf",
          "message Tyto soubory ani adresáře neexistují:\n\n" + p("gone.dxf") + "\n\n" + other.substr(8)
              + p("other/d.dxf") + "\n\nTyto soubory nejsou výkresy DXF a nebyly vybrány:\n\nnotes.txt"}},
#ifdef _WIN32
        // Named in another letter case: the file the system finds under it.
        {{"A.DXF"}, {"show " + p(""), "select a.dxf"}},
#else
        // The same directory spelt another way.
        {{"a.dxf", "sub/../b.DXF"}, {"show " + p(""), "select a.dxf", "select b.DXF"}},
#endif
    };
    for (const auto& row : rows) {
        Log log;
        FakeMainForm form(log);
        form.directory = "/start";
        std::vector<std::string> paths;
        for (const std::string& path : row.paths)
            paths.push_back(p(path));
        form.logic.HandOver(paths);
        EXPECT_EQ(log, row.log) << (row.paths.empty() ? "" : row.paths.front());
    }
}

TEST(FormLogicHandOver, PlanNamesTheFolderFirstAndTheDrawingsByTheirNames)
{
    test::TempDir dir;
    std::filesystem::create_directory(std::filesystem::u8path(dir.file("sub")));
    test::writeFile(dir.file("a.dxf"), test::kTiny);
    const HandOverPlan plan = PlanHandOver({dir.file("sub"), dir.file("a.dxf")}, SystemFileSystem());
    EXPECT_EQ(plan.directory, dir.file("sub"));
    EXPECT_TRUE(plan.names.empty());
    EXPECT_EQ(plan.elsewhere, std::vector<std::string>{dir.file("a.dxf")});
    EXPECT_TRUE(plan.missing.empty());
    EXPECT_TRUE(plan.unreadable.empty());
}

// ---------------------------------------------------------------------------
// Texts

TEST(FormLogicTexts, TheErrorBoxSaysWhatWentWrongInCzechForARefusedDrawing)
{
    const struct {
        std::exception_ptr failure;
        const char* text;
    } rows[] = {
        {std::make_exception_ptr(IoError(kFileAccessDenied)), "File access denied."},
        {std::make_exception_ptr(IoError(32)), "I/O error 32."},
        {std::make_exception_ptr(Refusal(kNotAsciiDxf)), "Soubor není textový (ASCII) soubor DXF."},
        {std::make_exception_ptr(Refusal(kTextsInUtf8)),
         "Texty výkresu jsou v kódování UTF-8 (AutoCAD 2007 nebo novější) a do konvence DOS je převést nelze. "
         "Uložte výkres jako DXF verze AutoCAD 2004 nebo starší, nebo vypněte Konverzi češtiny."},
        {std::make_exception_ptr(Refusal(kAlreadyConverted, "ANSI_852")),
         "Výkres už deklaruje kódovou stránku ANSI_852, byl nejspíš už konvertován."},
        {std::make_exception_ptr(Refusal(kSharedBackupName, "PLAN.DXF", "PLAN.old")),
         "Výkres má stejný název zálohy PLAN.old jako PLAN.DXF; konvertujte ho bez zálohy, nebo jeden z nich "
         "přejmenujte."},
        {std::make_exception_ptr(IoError(kChangedMeanwhile)),
         "Soubor změnil během konverze jiný program; nic nebylo nahrazeno."},
        {std::make_exception_ptr(std::runtime_error("Out of memory")), "Out of memory"},
        {std::make_exception_ptr(42), "Neznámá chyba."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FailureText(row.failure), row.text);
    const struct {
        std::vector<RefusedDrawing> refused;
        std::vector<LostCharacters> lost;
        const char* text;
    } summaries[] = {
        {{}, {}, ""},
        {{}, {{"PLAN.DXF", 1, {7}, false}}, "V těchto výkresech se znaky, které cílová kódová stránka nemá, změnily "
                                           "na mezery:\n\nPLAN.DXF: 1 znak (řádek 7)"},
        {{},
         {{"A.DXF", 4, {12, 40}, false}, {"B.DXF", 5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true}},
         "V těchto výkresech se znaky, které cílová kódová stránka nemá, změnily na mezery:\n\n"
         "A.DXF: 4 znaky (řádky 12, 40)\nB.DXF: 5 znaků (řádky 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, …)"},
        {{{"C.DXF", "Soubor není textový (ASCII) soubor DXF."}}, {}, "Tyto výkresy nebyly konvertovány:\n\n"
                                                                    "C.DXF: Soubor není textový (ASCII) soubor DXF."},
    };
    for (const auto& row : summaries)
        EXPECT_EQ(BatchSummaryText(row.refused, row.lost), row.text);
    EXPECT_EQ(ProgressCaption("PLAN.DXF"), "Konvertuje se soubor PLAN.DXF");
    EXPECT_EQ(CannotOpenDirectoryText("/mnt/výkresy"), "Adresář /mnt/výkresy nelze otevřít.");
    EXPECT_EQ(CannotReadVolumeText("/media/usb"), "Souborový systém /media/usb nelze číst.");

    EXPECT_EQ(HandOverText({}), "");
    EXPECT_EQ(HandOverText({{"/a/x.dxf", "/b"}, {"/root/y.dxf"}, {"/c/z.dxf"}, {"pozn.txt"}}),
              "Tyto soubory ani adresáře neexistují:\n\n/a/x.dxf\n/b\n\n"
              "Tyto soubory a adresáře nelze otevřít:\n\n/root/y.dxf\n\n"
              "Výkresy z jiných adresářů nebyly vybrány:\n\n/c/z.dxf\n\n"
              "Tyto soubory nejsou výkresy DXF a nebyly vybrány:\n\npozn.txt");
    EXPECT_EQ(HandOverText({{}, {}, {"/c/z.dxf"}, {}}), "Výkresy z jiných adresářů nebyly vybrány:\n\n/c/z.dxf");
}

}  // namespace
}  // namespace dxfkonv
