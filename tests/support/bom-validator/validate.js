// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
// SPDX-License-Identifier: GPL-2.0-or-later
//
// Validates a CycloneDX 1.5 JSON document against the official schema, with
// the validator that the format's own project publishes:
//   node validate.js FILE
// Prints "valid" and ends with 0, or prints the errors and ends with 1 (2
// when the validator itself cannot run).
'use strict';
const fs = require('fs');
const CDX = require('@cyclonedx/cyclonedx-library');

// The format's version 1.5, as the library names it.
const validator = new CDX.Validation.JsonStrictValidator('1.5');
validator.validate(fs.readFileSync(process.argv[2], 'utf8')).then(
    (errors) => {
        if (errors) {
            console.log(JSON.stringify(errors, null, 1));
            process.exit(1);
        }
        console.log('valid');
    },
    (failure) => {
        console.error(String(failure));
        process.exit(2);
    });
