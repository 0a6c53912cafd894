// SkeldaClasses.h: how programs create the component's classes by ProgID.
//
// A program that links the component registers it as a built-in class with register_skelda_classes().
// A program that should not link the database drivers (the client library) names the shared library
// libskelda.so in the class registry file instead:
//     Skelda.DBConnect = /path/to/libskelda.so : skelda_create_object
#pragma once

#include "platform/object/ClassRegistry.h"

// Registers "Skelda.DBConnect" with the process's class registry.
void register_skelda_classes();

extern "C" {
// The factory the registry file names (type ClassFactoryFunction): a new DBConnect for "Skelda.DBConnect"
// (any case), nullptr for other ProgIDs. The caller owns the object.
Dispatch* skelda_create_object(const char* progid);
}
