// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the precompiled Qt headers the tests of one group share; nothing else.
