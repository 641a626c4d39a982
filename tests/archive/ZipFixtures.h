#pragma once

#include "archive/ZipUnpacker.h"
#include "support/RecordingPresenter.h"
#include "support/ZipFixture.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <gtest/gtest.h>

// Deterministic test data: a compressible buffer (TestBytes gives a pseudo-random one).
QByteArray TextBytes(int size, const QByteArray& word);

// A scratch folder for one test: sources, archives, and the base directory "out" inside
// "sandbox", so that anything written beside it can be seen.
class ZipWorkspace {
public:
    ZipWorkspace();

    QString Path(const QString& relative) const;
    QString Sandbox() const { return Path(QStringLiteral("sandbox")); }
    QString Base() const { return Path(QStringLiteral("sandbox/out")); }

    void WriteFile(const QString& relative, const QByteArray& data) const;
    QByteArray ReadFile(const QString& relative) const;

    // Runs the zip command in the workspace with args; gives the archive's path.
    QString Zip(const QString& archive, const QStringList& args) const;
    // Runs python3 with a zipfile.ZipFile named z open for writing; gives its path.
    QString PyZip(const QString& archive, const QString& body) const;

    // Entries of the sandbox and of the base directory (hidden ones too).
    QStringList SandboxEntries() const;
    QStringList BaseEntries() const;

private:
    QTemporaryDir m_dir;
};

// Byte offsets inside an archive, for patching its records.
struct ZipLayout {
    explicit ZipLayout(const QByteArray& bytes);
    int64_t endRecord = -1;
    QList<int64_t> centralHeaders;
    QList<int64_t> localHeaders;
};

void PatchFile(const QString& path, int64_t offset, const QByteArray& bytes);
void Patch16(const QString& path, int64_t offset, uint16_t value);
void Patch32(const QString& path, int64_t offset, uint32_t value);
void AppendToFile(const QString& path, const QByteArray& bytes);
uint32_t Crc32Of(const QByteArray& data);

// Base for component tests: a workspace, a cleared box recorder and a component whose
// password requests are answered by a script instead of a dialog.
class ZipTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QList<RecordingPresenter::Box>& Boxes() { return TestPresenter().boxes; }
    QStringList BoxTexts() const;
    void ExpectBox(const QString& text, MessagePresenter::Icon icon, int index = 0);

    // The firmware package as the server holds it: both images and a note in folders,
    // made by the zip command; gives the archive's path.
    QString Package(const QString& name = QStringLiteral("QLMUpdate.zip"));
    static QByteArray OsImage() { return TestBytes(491516, 7); }
    static QByteArray ExtImage() { return TextBytes(98304, "external flash "); }
    static QByteArray Note() { return "Quillmoor firmware\n"; }

    ZipWorkspace ws;
    TZipUnpacker zip;
    QList<TZipPasswordReply> answers; // consumed in order; Cancel when none left
    QStringList asked;                // members a password was asked for
};
