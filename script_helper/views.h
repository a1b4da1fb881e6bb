// Read-only views over what the host delivers. A view holds one pointer, owns
// nothing and lives for the one call; its text accessors return copies, which
// a handler keeps if it needs a text later.
#ifndef VIEWS_H
#define VIEWS_H

#include "dotted_message.h"
#include "host_records.h"
#include "vesk_string.h"

class revertiveView {
  public:
    explicit revertiveView(const revertiveRecord* record) : record_(record) {}
    int device() const;
    int index() const;
    vesk_string text() const;

  private:
    const revertiveRecord* record_;
};

class controlEventView {
  public:
    explicit controlEventView(const controlEventRecord* record) : record_(record) {}
    vesk_string panel() const;
    vesk_string controlId() const;
    vesk_string messageName() const;
    vesk_string value() const;

  private:
    const controlEventRecord* record_;
};

class messageView {
  public:
    explicit messageView(const dottedMessage* message) : message_(message) {}
    vesk_string name() const;
    vesk_string value() const;

  private:
    const dottedMessage* message_;
};

// Types 6 and 7: the host's data pointer as received; nothing is read through it.
class notificationView {
  public:
    explicit notificationView(void* data) : data_(data) {}
    void* data() const { return data_; }

  private:
    void* data_;
};

#endif
