// InfoA reading, blank test and restore dialogue against the simulated instrument.
#include "tests/integration/upload/upload_fixture.h"

namespace uploadtest {
namespace {

using Strings = std::vector<std::string>;

const std::string RESTORED_ERASED =
    "InfoA successfully restored. Hit Back to try again.\n\nThe instrument holds no firmware now, so it cannot show "
    "programming mode: on the page \"Enter Programming Mode\" tick \"Use power-cycling method\" and click Next.";

TEST(InfoAText, BlankOnlyWhenTheFirstBytesAreTheBlankImage) {
    std::string blank = resourceText(ID_FIRMWARE_BLANK_INFOA);
    ASSERT_EQ(blank, infoAImage(std::vector<uint8_t>(64, 0xFF)));
    EXPECT_TRUE(IsBlankInfoA(blank.c_str()));
    EXPECT_TRUE(IsBlankInfoA((blank + "@1000\r\n12\r\nq\r\n").c_str())) << "only its length is compared";
    EXPECT_FALSE(IsBlankInfoA(blank.substr(0, 205).c_str()));
    std::string lf = blank;
    for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
    EXPECT_FALSE(IsBlankInfoA(lf.c_str()));
    EXPECT_FALSE(IsBlankInfoA(infoAImage(calibration(1)).c_str()));
}

TEST(InfoAText, SavedImageIsExactlyTheWritersFormOfOneInfoASection) {
    std::string good = infoAImage(calibration(3));
    EXPECT_TRUE(IsSavedInfoAImage(good));
    EXPECT_TRUE(IsSavedInfoAImage(infoAImage(std::vector<uint8_t>(64, 0))));
    std::string lower = good;
    lower[7] = 'a';
    lower[8] = 'b';
    std::string elsewhere = good;
    elsewhere.replace(1, 4, "FFE0");
    std::string longer = good.substr(0, good.size() - 3) + "00\r\nq\r\n";
    std::string secondSection = good.substr(0, good.size() - 3) + "@1000\r\n00\r\nq\r\n";
    for (const std::string& bad : {lower, elsewhere, longer, secondSection, good.substr(0, good.size() - 1), good + "\r\n",
                                   resourceText(ID_FIRMWARE_MODEL_KEY), std::string()}) {
        EXPECT_FALSE(IsSavedInfoAImage(bad)) << bad;
    }
}

TEST(InfoAText, TextFileIsReadRawUpToItsFirstZeroByte) {
    std::string path =
        (std::filesystem::temp_directory_path() / ("koral_infoa_text_" + std::to_string(getpid()) + ".txt")).string();
    spit(path, std::string("@10C0\r\nAB\0CD", 13));
    CString text;
    EXPECT_TRUE(ReadTextFile(path.c_str(), text));
    EXPECT_EQ(text, "@10C0\r\nAB");
    std::filesystem::remove(path);
    EXPECT_FALSE(ReadTextFile(path.c_str(), text));
}

using ReadInfoA = UploadFixture;

TEST_F(ReadInfoA, ErasedVectorsAnswerTheBlankKey) {
    makeInstrument({}, false);
    CString path, text;
    bool useBlankKey = true;
    EXPECT_TRUE(ReadAndSaveInfoA(setup, path, text, useBlankKey)) << out.text();
    EXPECT_TRUE(useBlankKey);
    EXPECT_EQ(passwordsSent(), Strings{"key_BLANK.txt"});
    // The temporary directory came without a trailing separator.
    EXPECT_EQ(path, dir + "/" + FIRST_BACKUP);
    EXPECT_EQ(text, infoAImage(instrument->read(0x10C0, 64)));
    EXPECT_EQ(slurp(path), text);
    EXPECT_TRUE(boxTexts().empty());
}

TEST_F(ReadInfoA, ProgrammedInstrumentFallsBackToTheModelKeyForGood) {
    makeInstrument();
    CString path, text;
    bool useBlankKey = true;
    EXPECT_TRUE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_FALSE(useBlankKey);
    EXPECT_TRUE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_EQ(passwordsSent(), (Strings{"key_BLANK.txt", "key_VKT.txt", "key_VKT.txt"}));
    EXPECT_EQ(text, infoAImage(instrument->read(0x10C0, 64)));
}

TEST_F(ReadInfoA, NeitherKeyEndsWithAMessage) {
    sim::InstrumentConfig config;
    config.flash = {sim::Section{0xFFE0, std::vector<uint8_t>(32, 0x44)}};
    makeInstrument(config);
    CString path, text;
    bool useBlankKey = true;
    EXPECT_FALSE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_FALSE(useBlankKey);
    EXPECT_EQ(boxTexts(), Strings{"Error reading InfoA"});
    EXPECT_EQ(driver.messageBoxes()[0].type, MB_OK | MB_ICONEXCLAMATION);
}

TEST_F(ReadInfoA, BlankSegmentGoesThroughTheRestoreDialogue) {
    sim::InstrumentConfig config;
    config.faults.blankInfoA = true;
    makeInstrument(config, false);
    std::vector<uint8_t> saved = calibration(9);
    std::string good = dir + "/KORLDR_INFOA_261001_101010.TXT";
    std::string blank = dir + "/KORLDR_INFOA_261002_101010.TXT";
    std::string foreign = dir + "/KORLDR_INFOA_261003_101010.TXT";
    spit(good, infoAImage(saved));
    spit(blank, blankInfoA + "trailing");
    spit(foreign, "@10C0\r\n01 02\r\n@F000\r\n31 40\r\nq\r\n");
    for (const std::string& answer : {dir + "/missing.TXT", blank, foreign, good}) driver.queueFileDialogAnswer(answer);

    CString path, text;
    bool useBlankKey = true;
    EXPECT_FALSE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_EQ(boxTexts(), (Strings{"InfoA is blank! You need to restore it from file", "Error opening file",
                                   "Chosen InfoA is blank too. Choose another...",
                                   "The chosen file is not a saved InfoA file. Choose another...", RESTORED_ERASED}));
    EXPECT_EQ(instrument->read(0x10C0, 64), saved);
    EXPECT_EQ(instrument->read(0xF000, 2), (std::vector<uint8_t>{0xFF, 0xFF})) << "nothing of the foreign file";
    EXPECT_TRUE(path.IsEmpty());
    // The blank reading is gone; the restored file stays (the flash is still erased), and so do
    // the refused ones.
    EXPECT_EQ(filesInDir(), (Strings{"KORLDR_INFOA_261001_101010.TXT", "KORLDR_INFOA_261002_101010.TXT",
                                     "KORLDR_INFOA_261003_101010.TXT"}));

    ASSERT_EQ(driver.fileDialogs().size(), 4u);
    const ui::FileDialogRequest& request = driver.fileDialogs()[0].request;
    EXPECT_TRUE(request.open);
    EXPECT_EQ(request.filter, "Saved InfoA Files|KORLDR_INFOA*.TXT||");
    EXPECT_EQ(request.defaultExt, "TXT");
    EXPECT_EQ(request.fileName, "");
    EXPECT_EQ(request.flags & (OFN_HIDEREADONLY | OFN_NOCHANGEDIR), OFN_HIDEREADONLY | OFN_NOCHANGEDIR);
    EXPECT_EQ(request.title, "Find a saved InfoA file");
    EXPECT_EQ(request.initialDir, dir) << "as the platform reports it";
    EXPECT_EQ(request.owner, nullptr);
}

TEST_F(ReadInfoA, CancelledDialogueLeavesNoBlankBackup) {
    sim::InstrumentConfig config;
    config.faults.blankInfoA = true;
    makeInstrument(config, false);
    driver.queueFileDialogAnswer(dir + "/missing.TXT");
    driver.queueFileDialogAnswer(std::nullopt);
    CString path, text;
    bool useBlankKey = true;
    EXPECT_FALSE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_EQ(boxTexts(), (Strings{"InfoA is blank! You need to restore it from file", "Error opening file"}));
    EXPECT_TRUE(filesInDir().empty());
}

TEST_F(ReadInfoA, BlankReadingNeverOverwritesABackupOfTheSameSecond) {
    sim::InstrumentConfig config;
    config.faults.blankInfoA = true;
    config.faults.wire = {sim::WireFault{sim::FaultAction::Nak, sim::FaultTrigger::Frame, 1, 0x12}};
    makeInstrument(config, false);
    // Kept from an upload that failed within this very second.
    std::string kept = infoAImage(calibration(5));
    spit(dir + "/" + FIRST_BACKUP, kept);
    spit(dir + "/KORLDR_INFOA_261209_225529_2.TXT", kept);
    driver.queueFileDialogAnswer(dir + "/" + FIRST_BACKUP);

    CString path, text;
    bool useBlankKey = true;
    EXPECT_FALSE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_EQ(boxTexts(), (Strings{"InfoA is blank! You need to restore it from file", "Error restoring InfoA"}));
    EXPECT_EQ(out.text().find("KORLDR_INFOA_261209_225529_3.TXT") != std::string::npos, true)
        << "the blank reading went to the first free name";
    EXPECT_EQ(filesInDir(), (Strings{FIRST_BACKUP, "KORLDR_INFOA_261209_225529_2.TXT"}));
    EXPECT_EQ(slurp(dir + "/" + FIRST_BACKUP), kept);
}

// An erased instrument (key word 0xFFFF) on a loader that erases on a wrong password: the blank
// key is right, and any other password would take InfoA with it.
TEST_F(ReadInfoA, OnlyARefusedBlankKeyLetsTheModelKeyGoOut) {
    for (sim::FaultAction lost : {sim::FaultAction::Silence, sim::FaultAction::CorruptChecksum}) {
        sim::InstrumentConfig config;
        config.infoA = calibration(7);
        config.faults.wire = {sim::WireFault{lost, sim::FaultTrigger::Frame, 1}};
        makeInstrument(config, false);
        out.clear();
        size_t boxes = driver.messageBoxes().size();
        CString path, text;
        bool useBlankKey = true;
        EXPECT_FALSE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
        EXPECT_EQ(passwordsSent(), Strings{"key_BLANK.txt"});
        ASSERT_EQ(driver.messageBoxes().size(), boxes + 1);
        EXPECT_EQ(driver.messageBoxes().back().text, "Error reading InfoA");
        EXPECT_EQ(instrument->read(0x10C0, 64), calibration(7));
        EXPECT_TRUE(filesInDir().empty()) << "the failed reading's own file is gone";
    }
}

TEST_F(ReadInfoA, BackupFolderThatCannotBeWrittenIsNamedWithTheReason) {
    makeInstrument();
    spit(dir + "/plain", "x");
    std::string longDir = dir + "/" + std::string(240, 'd');
    std::filesystem::create_directories(longDir);
    const std::pair<std::string, std::string> cases[] = {
        {dir + "/missing", "No such file or directory"},
        {dir + "/plain", "Not a directory"},
        {longDir, "the path is longer than the 255 characters the driver takes"}};
    for (const auto& [folder, reason] : cases) {
        setenv("TMPDIR", folder.c_str(), 1);
        CString path, text;
        bool useBlankKey = true;
        EXPECT_FALSE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
        EXPECT_EQ(boxTexts().back(), "Error reading InfoA\n\nThe backup folder \"" + folder + "/\" cannot be written: " +
                                         reason + ".");
    }
    EXPECT_TRUE(passwordsSent().empty()) << "nothing reaches the instrument";
}

// Two wizards on one temporary folder in the same second: each backup file is made at once under
// a name of its own, and each run deletes only what it made.
TEST_F(ReadInfoA, BackupFilesAreMadeExclusivelyAndOnlyOwnOnesDeleted) {
    CString first, second, problem;
    ASSERT_TRUE(NewInfoABackup(first, problem));
    ASSERT_TRUE(NewInfoABackup(second, problem));
    EXPECT_EQ(first, dir + "/" + FIRST_BACKUP);
    EXPECT_EQ(second, dir + "/KORLDR_INFOA_261209_225529_2.TXT");
    std::string other = dir + "/KORLDR_INFOA_261209_225529_3.TXT";
    spit(other, infoAImage(calibration(2)));
    DeleteOwnBackup(other.c_str());
    DeleteOwnBackup(first);
    EXPECT_EQ(filesInDir(), (Strings{"KORLDR_INFOA_261209_225529_2.TXT", "KORLDR_INFOA_261209_225529_3.TXT"}));
    DeleteOwnBackup(second);
}

// A cut in the middle of flash work leaves InfoA neither the calibration nor blank. The backup the
// cut upload kept is what the next reading is held against.
TEST_F(ReadInfoA, ReadingThatIsNoneOfTheKeptCalibrationsIsQuestioned) {
    sim::InstrumentConfig config;
    config.infoA = calibration(3);  // what the cut left
    makeInstrument(config);
    CString kept, problem;
    ASSERT_TRUE(NewInfoABackup(kept, problem));
    spit(kept, infoAImage(calibration(9)));

    CString path, text;
    bool useBlankKey = true;
    ASSERT_TRUE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_FALSE(AgreesWithKeptCalibrations(setup, path, text, useBlankKey)) << "Yes: the same instrument";
    ASSERT_EQ(driver.messageBoxes().size(), 2u);
    EXPECT_EQ(driver.messageBoxes()[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_NE(driver.messageBoxes()[0].text.find(kept), std::string::npos);
    EXPECT_EQ(driver.messageBoxes()[1].text, "InfoA successfully restored. Hit Back to try again.");
    EXPECT_EQ(instrument->read(0x10C0, 64), calibration(9)) << "erased, then written";
    EXPECT_TRUE(path.IsEmpty());
    EXPECT_EQ(filesInDir(), Strings{FIRST_BACKUP}) << "only the kept calibration; nothing of the damage";

    // The next reading is the kept calibration: no question. Then another instrument, and No.
    ASSERT_TRUE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_TRUE(AgreesWithKeptCalibrations(setup, path, text, useBlankKey));
    EXPECT_EQ(driver.messageBoxes().size(), 2u);
    config.infoA = calibration(4);
    makeInstrument(config);
    driver.queueMessageBoxAnswer(IDNO);
    CString other, otherText;
    ASSERT_TRUE(ReadAndSaveInfoA(setup, other, otherText, useBlankKey));
    EXPECT_TRUE(AgreesWithKeptCalibrations(setup, other, otherText, useBlankKey));
    EXPECT_EQ(driver.messageBoxes().size(), 3u);
    EXPECT_EQ(instrument->read(0x10C0, 64), calibration(4));
    config.infoA = calibration(5);
    makeInstrument(config);
    ASSERT_TRUE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_TRUE(AgreesWithKeptCalibrations(setup, path, text, useBlankKey)) << "asked once, not again";
    EXPECT_EQ(driver.messageBoxes().size(), 3u);
}

// A restore cut half-way leaves InfoA neither blank nor the chosen file's: the file, though not the
// wizard's own, is what the next reading is held against.
TEST_F(ReadInfoA, ChosenFileCountsFromBeforeItsWriteBack) {
    sim::InstrumentConfig config;
    config.faults.blankInfoA = true;
    config.faults.wire = {sim::WireFault{sim::FaultAction::Nak, sim::FaultTrigger::Frame, 1, 0x12}};
    makeInstrument(config, false);
    std::string archive = dir + "/instrument42_calibration.TXT";
    spit(archive, infoAImage(calibration(9)));
    driver.queueFileDialogAnswer(archive);
    CString path, text;
    bool useBlankKey = true;
    EXPECT_FALSE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    EXPECT_EQ(boxTexts().back(), "Error restoring InfoA");

    instrument->setFaults({});
    instrument->load(0x10C0, calibration(3));  // what the cut left
    ASSERT_TRUE(ReadAndSaveInfoA(setup, path, text, useBlankKey));
    driver.queueMessageBoxAnswer(IDNO);
    EXPECT_TRUE(AgreesWithKeptCalibrations(setup, path, text, useBlankKey));
    EXPECT_NE(driver.messageBoxes().back().text.find(archive), std::string::npos);
}

}  // namespace
}  // namespace uploadtest
