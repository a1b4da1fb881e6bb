#include "views.h"

int revertiveView::device() const { return record_->device; }
int revertiveView::index() const { return record_->index; }
vesk_string revertiveView::text() const { return vesk_string(record_->text); }

vesk_string controlEventView::panel() const { return vesk_string(record_->panel); }
vesk_string controlEventView::controlId() const { return vesk_string(record_->controlId); }
vesk_string controlEventView::messageName() const { return vesk_string(record_->message->name); }
vesk_string controlEventView::value() const { return vesk_string(record_->message->value); }

vesk_string messageView::name() const { return vesk_string(message_->name); }
vesk_string messageView::value() const { return vesk_string(message_->value); }
