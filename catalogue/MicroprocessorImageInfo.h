#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class Prompter;
class HexFileState;
class ImageSource;

// One processor of a product: what the catalogue says about its flash and
// where the checks find their values, plus the image read for it. The object
// name is the catalogue's ProcName.
class MicroprocessorImageInfo : public QObject
{
    Q_OBJECT

public:
    // Marker for a 32-bit value the catalogue did not give.
    static constexpr quint32 kNotGiven = 0xFFFFFFFEu;

    explicit MicroprocessorImageInfo(Prompter &prompter, QObject *parent = nullptr);
    ~MicroprocessorImageInfo() override;

    QString blid() const { return m_blid; }
    void setBlid(const QString &blid) { m_blid = blid; }
    QString sft() const { return m_sft; }
    void setSft(const QString &sft) { m_sft = sft; }

    qint32 fileType() const { return m_fileType; }
    void setFileType(qint32 fileType) { m_fileType = fileType; }
    qint32 hierarchy() const { return m_hierarchy; }
    void setHierarchy(qint32 hierarchy) { m_hierarchy = hierarchy; }
    quint32 firmwareMajorVersion() const { return m_firmwareMajorVersion; }
    void setFirmwareMajorVersion(quint32 v) { m_firmwareMajorVersion = v; }

    quint32 magicFlag() const { return m_magicFlag; }
    void setMagicFlag(quint32 v) { m_magicFlag = v; }
    quint32 magicLoc() const { return m_magicLoc; }
    void setMagicLoc(quint32 v) { m_magicLoc = v; }
    quint32 verLoc() const { return m_verLoc; }
    void setVerLoc(quint32 v) { m_verLoc = v; }
    quint32 bl3SftLoc() const { return m_bl3SftLoc; }
    void setBl3SftLoc(quint32 v) { m_bl3SftLoc = v; }
    quint32 bl3SftVal() const { return m_bl3SftVal; }
    void setBl3SftVal(quint32 v) { m_bl3SftVal = v; }
    quint32 bl3RevLoc() const { return m_bl3RevLoc; }
    void setBl3RevLoc(quint32 v) { m_bl3RevLoc = v; }

    quint32 pageSize() const { return m_pageSize; }
    void setPageSize(quint32 v) { m_pageSize = v; }
    quint32 wordSize() const { return m_wordSize; }
    void setWordSize(quint32 v)
    {
        m_wordSize = v;
        m_imageSize = m_wordSize * m_wordCount;
    }
    quint32 wordCount() const { return m_wordCount; }
    void setWordCount(quint32 v)
    {
        m_wordCount = v;
        m_imageSize = m_wordSize * m_wordCount;
    }
    quint32 imageSize() const { return m_imageSize; }

    quint8 blRev() const { return m_blRev; }
    void setBlRev(quint8 v) { m_blRev = v; }

    // The image as read: m_imageSize bytes once read, or empty when the
    // catalogue size is unusable (0x80000000 or more) or nothing was read.
    // Every read below is bounded by the bytes held, not by imageSize().
    const QByteArray &image() const { return m_image; }
    // Forgets the image and the paragraphs of an earlier file.
    void clearImage();

    // Intel HEX: reads one section from the source into the image. The
    // upper linear address lives in state, which belongs to one file; a
    // section with an end-of-file record leaves its image there for the dump.
    // False when the section could not be read whole (an error in a record,
    // or no image could be built for this processor): the operator has been
    // told why, and the image must not be used.
    bool readIntelHex(ImageSource &source, HexFileState &state);
    // Little-endian word at byte pos; 0 unless all four bytes are held.
    quint32 readWord32(quint64 pos) const;
    // Whole pages of pageSize() in the image held.
    quint32 pageCount() const;
    // False, and out emptied, when the page is not wholly inside the image.
    bool copyPage(quint32 page, quint32 size, QByteArray &out) const;
    // ":W" record of one page; empty when the page is not wholly inside the image.
    QByteArray pageRecord(quint32 page, quint32 length) const;

    // PSoC text: reads one section of w/r lines into paragraphs. False when a
    // line was refused (the operator has been told): the paragraphs are then
    // emptied, so nothing half read can be programmed.
    bool readCypressPSoC(ImageSource &source);
    int paragraphCount() const { return m_paragraphs.size(); }
    QByteArray paragraph(int k) const { return m_paragraphs.value(k); }

    bool checkMagic() const;
    quint32 firmwareVersion() const;
    bool checkSft() const;
    QString versionString() const;

    // A w line with more fields than this is refused: the format counts
    // fields in 8 bits.
    static constexpr int kMaxPsocFields = 255;

private:
    // The record loop of readIntelHex; false on a refused record.
    bool readHexRecords(ImageSource &source, HexFileState &state, bool &endOfFileSeen);
    // Word at word index loc; the byte offset is computed in 64 bits, so a
    // large index cannot wrap onto a real word.
    quint32 wordAt(quint32 loc) const { return readWord32(quint64(m_wordSize) * loc); }
    void warn(const QString &text) const;

    Prompter &m_prompter;

    QString m_blid = QString(QChar(0xFFFE));
    qint32 m_fileType = 255;
    quint32 m_firmwareMajorVersion = kNotGiven;
    qint32 m_hierarchy = 255;
    quint32 m_imageSize = kNotGiven;
    quint32 m_magicFlag = kNotGiven;
    quint32 m_magicLoc = kNotGiven;
    quint32 m_pageSize = 0;
    QString m_sft = QString(QChar(0xFFFE));
    quint32 m_wordSize = 0;
    quint32 m_wordCount = kNotGiven;
    quint32 m_verLoc = kNotGiven;
    QByteArray m_image;
    QList<QByteArray> m_paragraphs;
    quint8 m_blRev = 1;
    quint32 m_bl3SftLoc = kNotGiven;
    quint32 m_bl3SftVal = kNotGiven;
    quint32 m_bl3RevLoc = kNotGiven;
};
