#pragma once
// Small rules the walks of the OLM archive writer share.

#include <QByteArray>
#include <QList>

// Whether folder level k of parts is new against the previous record's parts: the previous
// path is shorter, or differs in one of the components 0 to k.
bool OlmLevelIsNew(const QList<QByteArray> &previous, const QList<QByteArray> &parts, int k);
// Bytes to skip at the start of a recovered item's span: the start tag of its block's root
// (root is "emails", "contacts", ...), which only the block's first item carries; 0 otherwise.
int OlmRootTagLength(const QByteArray &head, const QByteArray &root);
// Bytes to leave off at the end of a span that closes its root ("</emails>" and blanks).
int OlmRootCloseLength(const QByteArray &tail, const QByteArray &root);
