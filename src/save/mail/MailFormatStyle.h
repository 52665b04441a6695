#pragma once
// What differs between the mail formats that the one message writer produces. One constant row
// per format; the writing steps read it and never change it.

#include "save/MessageFields.h"
#include "save/SaveType.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Which record time a From_ line or Date header shows. All three start alike: an outgoing flag
// of '-' picks the sent time, then the folder words of the entry name decide; a chosen time of 0
// gives way to the other time when that one is set.
enum class MailTimeRule {
    FromLine,     // a message with no time at all shows 1970-01-01
    FromLineNow,  // the same, but an unfiled incoming message without times shows the current time
    DateHeader,   // an unfiled message without times gets no Date line
};

enum class MailFormat { AppleMailMbox, RgePackage, Emlx, Eml, Html };

struct MailFormatStyle {
    MailFormat format;
    // Output: the save type's output root (OutputRootFor) + mailFolderName + folder path.
    SaveType saveType;
    QString mailFolderName;  // "/Mail/"
    QString fileExtension;   // ".mbox"
    bool oneFilePerFolder;   // else one numbered file per message
    quint32 finderType;      // four-character codes, e.g. 'MBOX'
    quint32 finderCreator;   // 'OPIM'
    // Lines.
    QByteArray lineEnd;              // "\n" Apple Mail, "\r" package
    QByteArray dateLineEnd;          // end of the From_ line and of the Date header
    QByteArray addressSeparator;     // "," CR TAB between To/Cc/Bcc entries
    QByteArray headerFold = "\r\t";  // before the boundary parameter of a multipart header
    // From_ line and Date header.
    bool writesFromLine;
    bool fromLineZone;  // zone abbreviation after the year
    MailTimeRule fromLineTimeRule;
    MailTimeRule dateHeaderTimeRule;
    bool classifyOnFolderPath = false;  // folder words looked for in the folder path only
    bool numericDateZone;               // Date header zone as "+0530" instead of the zone text
    // Header set.
    const char *priorityDigits[3];  // text for cPriority '2', '3', '4' (null: no X-Priority line)
    QByteArray priorityLineEnd;
    bool writesPriorityAndHasAttach;
    MessageIdForm messageIdForm;
    // Body.
    bool writesMimeFrame;
    bool writeEmptyTextPart;       // frame with an empty text/plain part when there is no body or id
    bool mboxrdFromQuoting;        // body lines matching ^>*From get one more '>'
    bool emptyBodyAsHtml = false;  // the empty text part is the fixed empty HTML page
    bool crlfBodyLines = false;    // every line break of the text part made CR LF (RFC 5322)
    // Message files.
    bool lengthFirstLine = false;  // first line: the byte count of the message after it
    bool htmlPage = false;         // a page to view rather than a message to import
};

const MailFormatStyle &AppleMailStyle();
const MailFormatStyle &RgePackageStyle();
const MailFormatStyle &EmlxStyle();
const MailFormatStyle &EmlStyle();
const MailFormatStyle &HtmlStyle();
