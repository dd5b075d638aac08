#pragma once

// Takes over every pass of the reply parser while it is set (the file-capture path): the
// parser then reads nothing itself and its reply timers leave the buffer alone.
class ReceiveRoute {
  public:
    virtual ~ReceiveRoute() = default;
    // One pass over what is buffered; called on every receive event.
    virtual void receivePass() = 0;
};
