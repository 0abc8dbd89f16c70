#pragma once

// Raises the soft limit of open files to the hard limit, so that many cashier
// connections fit. Called once at start-up; false when the limit could not be
// read or changed (the program then runs with the limit it has).
bool RaiseFileLimit();
