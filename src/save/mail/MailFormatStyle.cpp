#include "save/mail/MailFormatStyle.h"

#include "platform/FinderInfo.h"

namespace {

MailFormatStyle appleMail()
{
    MailFormatStyle s{};
    s.format = MailFormat::AppleMailMbox;
    s.saveType = SaveTypeMBOX;
    s.mailFolderName = QStringLiteral("/Mail/");
    s.fileExtension = QStringLiteral(".mbox");
    s.oneFilePerFolder = true;
    s.finderType = FourCharCode("MBOX");
    s.finderCreator = FourCharCode("OPIM");
    s.lineEnd = QByteArrayLiteral("\n");
    // A bare CR here would run the From_ line into the next one for every LF reader.
    s.dateLineEnd = s.lineEnd;
    s.addressSeparator = QByteArrayLiteral(",\r\t");
    s.writesFromLine = true;
    s.fromLineZone = false;
    s.fromLineTimeRule = MailTimeRule::FromLineNow;
    s.dateHeaderTimeRule = MailTimeRule::DateHeader;
    s.numericDateZone = true;
    s.priorityDigits[0] = "1";
    s.priorityDigits[1] = "3";
    s.priorityDigits[2] = "5";
    s.priorityLineEnd = s.lineEnd;
    s.writesPriorityAndHasAttach = true;
    s.messageIdForm = MessageIdForm::AngleBrackets;
    s.writesMimeFrame = true;
    s.writeEmptyTextPart = true;
    s.mboxrdFromQuoting = true;
    return s;
}

// The package's mailboxes are read CR-aware; their line ends stay as the package expects them.
MailFormatStyle rgePackage()
{
    MailFormatStyle s{};
    s.format = MailFormat::RgePackage;
    s.saveType = SaveTypeRGE;
    s.mailFolderName = QStringLiteral("/Mail/");
    s.fileExtension = QStringLiteral(".mbox");
    s.oneFilePerFolder = true;
    s.finderType = FourCharCode("MBOX");
    s.finderCreator = FourCharCode("OPIM");
    s.lineEnd = QByteArrayLiteral("\r");
    s.dateLineEnd = QByteArrayLiteral("\r");
    s.addressSeparator = QByteArrayLiteral(",\r\t");
    s.writesFromLine = true;
    s.fromLineZone = true;
    s.fromLineTimeRule = MailTimeRule::FromLine;
    s.dateHeaderTimeRule = MailTimeRule::DateHeader;
    // A zone name is read as +0000 by RFC 5322 readers: the numeric zone keeps the instant.
    s.numericDateZone = true;
    s.priorityDigits[0] = "2";
    s.priorityDigits[1] = "";
    s.priorityDigits[2] = "4";
    s.priorityLineEnd = QByteArrayLiteral("\r\n");
    s.writesPriorityAndHasAttach = true;
    s.messageIdForm = MessageIdForm::ClosingBracket;
    s.writesMimeFrame = true;
    s.writeEmptyTextPart = false;
    // Readers of these mailboxes split at any body line starting "From " too.
    s.mboxrdFromQuoting = true;
    return s;
}

}  // namespace

const MailFormatStyle &AppleMailStyle()
{
    static const MailFormatStyle style = appleMail();
    return style;
}

const MailFormatStyle &RgePackageStyle()
{
    static const MailFormatStyle style = rgePackage();
    return style;
}
