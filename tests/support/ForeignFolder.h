#pragma once

#include <QString>

// Turns the existing folder at path into one that someone else could have left for the
// program to find: on Unix it is given to another user (only root can; false otherwise), on
// Windows its access list is opened to everybody.
bool PlantForeignFolder(const QString& path);
