// Resource ids and version numbers, shared by the resource script and the program code.
// Only preprocessor definitions live here: the resource compiler reads this file too.
#pragma once

// The update dialog and its controls.
#define IDD_UPDATE_DIALOG 106
#define IDC_START_UPDATE 1000
#define IDC_PROGRESS 1001
#define IDC_NOTICE 1002
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Icon groups: 107 is the program's icon, at every size from 16 to 256 px; 108 holds two 32 x 32
// images in 16 and 256 colours.
#define IDI_APP 107
#define IDI_APP_LOW_COLOUR 108

// Version block and manifest resource ids.
#define IDR_VERSION 1
#define IDR_MANIFEST 1

// The version: these four numbers are its one definition. The version block's numbers and its
// text ("3.0.0.7", which the dialog's title shows) are made from them below; the manifest and the
// package's name take them from release/make_docs.py, which reads them here.
#define NORVANE_VERSION_MAJOR 3
#define NORVANE_VERSION_MINOR 0
#define NORVANE_VERSION_PATCH 0
#define NORVANE_VERSION_BUILD 7
#define NORVANE_VERSION_NUMBERS                                                                    \
    NORVANE_VERSION_MAJOR, NORVANE_VERSION_MINOR, NORVANE_VERSION_PATCH, NORVANE_VERSION_BUILD
#define NORVANE_TEXT_(tokens) #tokens
#define NORVANE_TEXT(tokens) NORVANE_TEXT_(tokens)
// NOLINTNEXTLINE(bugprone-macro-parentheses): the numbers are spelled with their dots, not computed
#define NORVANE_DOTTED(major, minor, patch, build) NORVANE_TEXT(major.minor.patch.build)
#define NORVANE_VERSION_TEXT                                                                       \
    NORVANE_DOTTED(NORVANE_VERSION_MAJOR, NORVANE_VERSION_MINOR, NORVANE_VERSION_PATCH,            \
                   NORVANE_VERSION_BUILD)
#define NORVANE_PRODUCT_NAME "Norvane FW Updater"

// What Explorer, deployment tools and inventory scanners show about the file.
#define NORVANE_COMPANY_NAME "Norvane"
#define NORVANE_FILE_DESCRIPTION NORVANE_PRODUCT_NAME
#define NORVANE_INTERNAL_NAME "NorvaneFwUpdater"
#define NORVANE_ORIGINAL_FILENAME "NorvaneFwUpdater.exe"
#define NORVANE_LEGAL_COPYRIGHT "Copyright (C) Norvane. All rights reserved."

// Wide forms for the program code.
#define NORVANE_WIDEN_(s) L##s
#define NORVANE_WIDEN(s) NORVANE_WIDEN_(s)
#define NORVANE_PRODUCT_NAME_W NORVANE_WIDEN(NORVANE_PRODUCT_NAME)

// The string table key of the version block: Japanese (0x0411), Unicode (code page 1200, 0x04B0).
#define NORVANE_VERSION_BLOCK_KEY "041104b0"
#define NORVANE_VERSION_BLOCK_KEY_W NORVANE_WIDEN(NORVANE_VERSION_BLOCK_KEY)
