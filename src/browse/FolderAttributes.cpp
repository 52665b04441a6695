#include "browse/FolderAttributes.h"

FldrAtribNode *StartFldrAtrib = nullptr;
FldrAtribNode *EndFldrAtrib = nullptr;

FldrAtribNode *AppendFolderAttribute(quint8 bState, qint64 llFolderId, quint32 dwKind)
{
    auto *node = new FldrAtribNode{bState, llFolderId, dwKind, nullptr};
    if (EndFldrAtrib)
        EndFldrAtrib->pNext = node;
    else
        StartFldrAtrib = node;
    EndFldrAtrib = node;
    return node;
}

void FreeFolderAttributes()
{
    FldrAtribNode *node = StartFldrAtrib;
    while (node) {
        FldrAtribNode *next = node->pNext;
        delete node;
        node = next;
    }
    StartFldrAtrib = nullptr;
    EndFldrAtrib = nullptr;
}
