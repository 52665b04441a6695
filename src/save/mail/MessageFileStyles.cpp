// The rows of the formats that write one file per message: .emlx, .eml and the .htm page.

#include "save/mail/MailFormatStyle.h"

#include "platform/FinderInfo.h"

namespace {

MailFormatStyle messageFile(MailFormat format, SaveType type, const char *extension)
{
    MailFormatStyle s{};
    s.format = format;
    s.saveType = type;
    s.mailFolderName = QStringLiteral("/Mail/");
    s.fileExtension = QString::fromLatin1(extension);
    s.oneFilePerFolder = false;
    s.finderType = FourCharCode("MBOX");
    s.finderCreator = FourCharCode("OPIM");
    // Readers of these files take a zone name as UTC; a numeric zone keeps the instant.
    s.numericDateZone = true;
    s.messageIdForm = MessageIdForm::AngleBrackets;
    return s;
}

MailFormatStyle emlx()
{
    MailFormatStyle s = messageFile(MailFormat::Emlx, SaveTypeEMLX, ".emlx");
    s.lineEnd = QByteArrayLiteral("\n");
    s.dateLineEnd = s.lineEnd;
    s.addressSeparator = QByteArrayLiteral(",\n\t");
    s.headerFold = QByteArrayLiteral("\n\t");
    s.writesFromLine = false;
    s.fromLineTimeRule = MailTimeRule::FromLine;
    // An unfiled message shows its received time unless it is outgoing.
    s.dateHeaderTimeRule = MailTimeRule::FromLine;
    s.classifyOnFolderPath = true;
    s.writesPriorityAndHasAttach = false;
    s.writesMimeFrame = true;
    s.lengthFirstLine = true;
    return s;
}

// Every line ends in CR LF (RFC 5322): mail readers find no parts in a file of bare CRs.
MailFormatStyle eml()
{
    MailFormatStyle s = messageFile(MailFormat::Eml, SaveTypeEML, ".eml");
    s.lineEnd = QByteArrayLiteral("\r\n");
    s.dateLineEnd = s.lineEnd;
    s.addressSeparator = QByteArrayLiteral(",\r\n\t");
    s.headerFold = QByteArrayLiteral("\r\n\t");
    s.writesFromLine = true;
    s.fromLineZone = true;
    s.fromLineTimeRule = MailTimeRule::FromLine;
    s.dateHeaderTimeRule = MailTimeRule::DateHeader;
    s.priorityDigits[0] = "2";
    s.priorityDigits[1] = "";
    s.priorityDigits[2] = "4";
    s.priorityLineEnd = s.lineEnd;
    s.writesPriorityAndHasAttach = true;
    s.writesMimeFrame = true;
    s.writeEmptyTextPart = true;
    s.emptyBodyAsHtml = true;
    s.crlfBodyLines = true;
    return s;
}

MailFormatStyle html()
{
    MailFormatStyle s = messageFile(MailFormat::Html, SaveTypeHTML, ".htm");
    s.lineEnd = QByteArrayLiteral("\n\n");
    s.dateLineEnd = s.lineEnd;
    s.addressSeparator = QByteArrayLiteral(",\r\t");
    s.dateHeaderTimeRule = MailTimeRule::DateHeader;
    s.htmlPage = true;
    return s;
}

}  // namespace

const MailFormatStyle &EmlxStyle()
{
    static const MailFormatStyle style = emlx();
    return style;
}

const MailFormatStyle &EmlStyle()
{
    static const MailFormatStyle style = eml();
    return style;
}

const MailFormatStyle &HtmlStyle()
{
    static const MailFormatStyle style = html();
    return style;
}
