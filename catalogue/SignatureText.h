#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Reading the text of public key and signature files as the signing tool
// writes them. Both readers share these rules, so that a file the tool itself
// refuses is never taken here.
namespace SignatureText {

// The lines of a file: each ends at LF, one CR before it is dropped. A last
// line without LF counts; nothing after the lines the caller needs matters.
QList<QByteArrayView> lines(QByteArrayView text);

// The bytes of one base64 line when it holds exactly size bytes: standard
// alphabet, padded to a multiple of four, nothing else on the line. The bits
// after the last byte are not looked at: the tool that writes and checks
// these files ignores them too, so the decoded bytes are all that is signed.
std::optional<QByteArray> decodeBase64(QByteArrayView line, qsizetype size);

// The text after prefix, when line starts with it.
std::optional<QByteArrayView> after(QByteArrayView line, QByteArrayView prefix);

} // namespace SignatureText
