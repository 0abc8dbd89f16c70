#pragma once

// Lowers (restore false) every other process's audio streams to silence,
// remembering the first level seen per process, or restores those levels.
// Silent on any failure; never blocks longer than about a second.
void ShieldOthers(bool restore);
