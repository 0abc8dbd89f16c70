#pragma once

class AnnouncementComposer;

// Reads one cashier message from a connection, answers "OK" before anything
// else, cuts it and hands it to the composer.
class MessageReader {
public:
    explicit MessageReader(AnnouncementComposer& composer) : m_composer(composer) {}
    // False when the connection must be closed (peer gone, reply failed).
    bool OnSocketRead(int fd);

private:
    AnnouncementComposer& m_composer;
};
