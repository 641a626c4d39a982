#include "ZipFixtures.h"
#include "support/HostProcess.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QtEndian>
#include <zlib.h>

QByteArray TextBytes(int size, const QByteArray& word) {
    QByteArray data;
    for (int i = 0; data.size() < size; ++i)
        data += word + QByteArray::number(i % 97) + '\n';
    return data.left(size);
}

ZipWorkspace::ZipWorkspace() {
    EXPECT_TRUE(m_dir.isValid());
    QDir().mkpath(Base());
}

QString ZipWorkspace::Path(const QString& relative) const {
    return m_dir.filePath(relative);
}

void ZipWorkspace::WriteFile(const QString& relative, const QByteArray& data) const {
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(data);
}

QByteArray ZipWorkspace::ReadFile(const QString& relative) const {
    QFile file(Path(relative));
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

static void RunTool(const QString& dir, const QString& program, const QStringList& args) {
    QByteArray errors;
    ASSERT_EQ(RunHostProgram(program, args, dir, &errors), 0)
        << qPrintable(program) << ": " << errors.constData();
}

QString ZipWorkspace::Zip(const QString& archive, const QStringList& args) const {
    RunTool(m_dir.path(), QStringLiteral("zip"), QStringList{"-q", archive} + args);
    return Path(archive);
}

QString ZipWorkspace::PyZip(const QString& archive, const QString& body) const {
    const QString script = QStringLiteral("import sys, zipfile\n"
                                          "z = zipfile.ZipFile(sys.argv[1], 'w')\n") +
                           body + QStringLiteral("\nz.close()\n");
    RunTool(m_dir.path(), QStringLiteral("python3"), {QStringLiteral("-c"), script, Path(archive)});
    return Path(archive);
}

static QStringList EntriesOf(const QString& path) {
    QStringList list =
        QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    list.sort();
    return list;
}

QStringList ZipWorkspace::SandboxEntries() const {
    return EntriesOf(Sandbox());
}
QStringList ZipWorkspace::BaseEntries() const {
    return EntriesOf(Base());
}

ZipLayout::ZipLayout(const QByteArray& bytes) {
    endRecord = bytes.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (endRecord < 0)
        return;
    const char* end = bytes.constData() + endRecord;
    const int count = qFromLittleEndian<quint16>(end + 10);
    int64_t pos = qFromLittleEndian<quint32>(end + 16);
    for (int i = 0; i < count && pos + 46 <= bytes.size(); ++i) {
        const char* h = bytes.constData() + pos;
        centralHeaders.append(pos);
        localHeaders.append(qFromLittleEndian<quint32>(h + 42));
        pos += 46 + qFromLittleEndian<quint16>(h + 28) + qFromLittleEndian<quint16>(h + 30) +
               qFromLittleEndian<quint16>(h + 32);
    }
}

void PatchFile(const QString& path, int64_t offset, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(offset));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

void Patch16(const QString& path, int64_t offset, uint16_t value) {
    char b[2];
    qToLittleEndian<quint16>(value, b);
    PatchFile(path, offset, QByteArray(b, 2));
}

void Patch32(const QString& path, int64_t offset, uint32_t value) {
    char b[4];
    qToLittleEndian<quint32>(value, b);
    PatchFile(path, offset, QByteArray(b, 4));
}

void AppendToFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(bytes);
}

uint32_t Crc32Of(const QByteArray& data) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

void ZipTest::SetUp() {
    TestPresenter().boxes.clear();
    zip.ExtrBaseDir = ws.Base();
    zip.PasswordPrompt = [this](const QString& member) {
        asked.append(member);
        return answers.isEmpty() ? TZipPasswordReply{} : answers.takeFirst();
    };
}

void ZipTest::TearDown() {
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "wait cursor left behind";
    EXPECT_FALSE(zip.Busy());
}

QStringList ZipTest::BoxTexts() const {
    QStringList texts;
    for (const auto& box : TestPresenter().boxes)
        texts.append(box.text);
    return texts;
}

void ZipTest::ExpectBox(const QString& text, MessagePresenter::Icon icon, int index) {
    ASSERT_GT(Boxes().size(), index) << "no box " << index;
    const auto& box = Boxes().at(index);
    EXPECT_EQ(box.title, QStringLiteral("Quillmoor Firmware Updater"));
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon);
}

QString ZipTest::Package(const QString& name) {
    ws.WriteFile(QStringLiteral("src/QLM/images/os.bin"), OsImage());
    ws.WriteFile(QStringLiteral("src/QLM/images/ext.bin"), ExtImage());
    ws.WriteFile(QStringLiteral("src/QLM/readme.txt"), Note());
    RunTool(ws.Path(QStringLiteral("src")), QStringLiteral("zip"),
            {QStringLiteral("-q"), QStringLiteral("-r"), ws.Path(name), QStringLiteral("QLM")});
    return ws.Path(name);
}
