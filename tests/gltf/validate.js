// Runs Khronos' glTF validator on each file named and prints its verdict, one line a file,
// then every error and warning. Exits 0 when no file has an error or a warning (infos and
// hints are allowed), 1 otherwise, 2 when the validator cannot be loaded.
//   node validate.js VALIDATOR_DIR FILE...
'use strict';
const fs = require('fs');
const path = require('path');

let validator;
try {
  validator = require(path.resolve(process.argv[2]));
} catch (e) {
  console.error(`cannot load gltf-validator from ${process.argv[2]}: ${e.message}`);
  process.exit(2);
}

async function validate(file) {
  const folder = path.dirname(file);
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
    uri: path.basename(file),
    maxIssues: 0,
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.join(folder, decodeURIComponent(uri)), (err, data) =>
          err ? reject(err.toString()) : resolve(new Uint8Array(data)));
      }),
  });
  const issues = report.issues;
  console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
              `${issues.numInfos} infos, ${issues.numHints} hints`);
  for (const m of issues.messages) {
    if (m.severity <= 1) console.log(`  ${m.severity === 0 ? 'error' : 'warning'} ${m.code} ` +
                                     `at ${m.pointer || ''}: ${m.message}`);
  }
  return issues.numErrors === 0 && issues.numWarnings === 0;
}

(async () => {
  let ok = true;
  for (const file of process.argv.slice(3)) {
    try {
      if (!(await validate(file))) ok = false;
    } catch (e) {
      console.log(`${file}: the validator failed: ${e}`);
      ok = false;
    }
  }
  process.exit(ok ? 0 : 1);
})();
