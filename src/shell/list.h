// Circular doubly linked list with a separate head; an empty list is a head
// that links to itself.
#pragma once

#include "uefi/uefi.h"

struct ListEntry {
  ListEntry *Forward;
  ListEntry *Backward;
};

VOID ListInit(ListEntry *Head);
VOID ListInsertFront(ListEntry *Head, ListEntry *Entry);
ListEntry *ListRemove(ListEntry *Entry);
ListEntry *ListFirst(ListEntry *Head);
ListEntry *ListNext(ListEntry *Entry);
BOOLEAN ListIsEnd(ListEntry *Head, ListEntry *Entry);
BOOLEAN ListIsEmpty(ListEntry *Head);
