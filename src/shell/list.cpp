// Circular doubly linked list with a separate head.
#include "shell/list.h"

VOID ListInit(ListEntry *Head) {
  Head->Forward = Head;
  Head->Backward = Head;
}

VOID ListInsertFront(ListEntry *Head, ListEntry *Entry) {
  Entry->Forward = Head->Forward;
  Entry->Backward = Head;
  Head->Forward->Backward = Entry;
  Head->Forward = Entry;
}

ListEntry *ListRemove(ListEntry *Entry) {
  ListEntry *Next = Entry->Forward;
  Entry->Backward->Forward = Next;
  Next->Backward = Entry->Backward;
  return Next;
}

ListEntry *ListFirst(ListEntry *Head) { return Head->Forward; }

ListEntry *ListNext(ListEntry *Entry) { return Entry->Forward; }

BOOLEAN ListIsEnd(ListEntry *Head, ListEntry *Entry) { return Entry == Head; }

BOOLEAN ListIsEmpty(ListEntry *Head) { return Head->Forward == Head; }
