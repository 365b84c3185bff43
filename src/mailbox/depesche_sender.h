#pragma once

namespace mailbox {

// Marks a class whose objects may be named as the sender of a message.
class DepescheSender {};

}  // namespace mailbox
