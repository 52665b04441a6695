#include "scanner/FolderAttributes.h"

FldrAtribNode *StartFldrAtrib = nullptr;
FldrAtribNode *EndFldrAtrib = nullptr;

FldrAtribNode *AppendFolderAttribute(quint8 bState, qint64 llParentId, qint64 llFolderId, quint32 dwKind)
{
    auto *node = new FldrAtribNode{bState, llParentId, llFolderId, dwKind, nullptr};
    if (EndFldrAtrib)
        EndFldrAtrib->pNext = node;
    else
        StartFldrAtrib = node;
    EndFldrAtrib = node;
    return node;
}

FldrAtribNode *AppendFolderAttribute(quint8 bState, qint64 llFolderId, quint32 dwKind)
{
    return AppendFolderAttribute(bState, 0, llFolderId, dwKind);
}

FldrAtribNode *FindFolderAttribute(qint64 llFolderId)
{
    for (FldrAtribNode *node = StartFldrAtrib; node; node = node->pNext) {
        if (node->llFolderId == llFolderId)
            return node;
    }
    return nullptr;
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
