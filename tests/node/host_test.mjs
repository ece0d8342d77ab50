// A host written in JavaScript: binds the four exports with koffi and runs two exchanges, the
// second sending back every fingerprint of the first. Callbacks arrive from the library's own
// thread; koffi relays them to this thread, so nothing here may block while waiting.
//
// Usage: node host_test.mjs /path/to/libTavroApple.so
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import koffi from 'koffi';

const libraryPath = process.argv[2];
const sandbox = fs.mkdtempSync(path.join(os.tmpdir(), 'tavro-node-'));
const exchangeDirectory = path.join(sandbox, 'exchange');
fs.mkdirSync(path.join(sandbox, 'config', 'tavro'), { recursive: true });
fs.mkdirSync(exchangeDirectory, { recursive: true });
fs.writeFileSync(path.join(sandbox, 'entitlements.plist'), `<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>com.apple.security.application-groups</key><array><string>group.app.tavro</string></array>
<key>com.apple.developer.icloud-container-identifiers</key><array><string>iCloud.app.tavro</string></array>
<key>com.apple.developer.icloud-services</key><array><string>CloudKit</string></array>
</dict></plist>`);
fs.writeFileSync(path.join(sandbox, 'config', 'tavro', 'cloud-account.json'),
                 JSON.stringify({ status: 'available', userRecordName: '_node-host' }));
process.env.TAVRO_ENTITLEMENTS = path.join(sandbox, 'entitlements.plist');
process.env.XDG_DATA_HOME = path.join(sandbox, 'data');
process.env.XDG_CONFIG_HOME = path.join(sandbox, 'config');
delete process.env.TAVRO_DISABLE_CLOUDKIT;
delete process.env.TAVRO_CLOUDKIT_ENABLED;

const lib = koffi.load(libraryPath);
const groupPath = lib.func('void *tavro_apple_group_path(void)');
const cloudAvailable = lib.func('int32_t tavro_apple_cloud_available(void)');
const free = lib.func('void tavro_apple_free(void *string)');
const Callback = koffi.proto('void tavro_apple_exchange_callback(intptr_t context, const char *response)');
const exchange = lib.func(
  'void tavro_apple_exchange(const char *request, intptr_t context, tavro_apple_exchange_callback *callback)');

// One registered callback serves every exchange; the context tells the answers apart.
const pending = new Map();
const callback = koffi.register((context, response) => {
  const resolve = pending.get(Number(context));
  pending.delete(Number(context));
  resolve(JSON.parse(response));  // the text is copied: the library frees it after we return
}, koffi.pointer(Callback));

// Node does not know that an answer is on its way from another thread: a timer keeps the
// event loop alive while any exchange is outstanding.
let keepAlive = null;
function run(context, request) {
  keepAlive ??= setInterval(() => {}, 50);
  return new Promise((resolve) => {
    pending.set(context, (response) => {
      if (pending.size === 0) {
        clearInterval(keepAlive);
        keepAlive = null;
      }
      resolve(response);
    });
    exchange(JSON.stringify(request), context, callback);
  });
}

test('a JavaScript host drives two exchanges through koffi', async () => {
  const pointer = groupPath();
  assert.notEqual(pointer, null);
  const container = koffi.decode(pointer, 'char', -1);
  free(pointer);
  assert.equal(container, path.join(sandbox, 'data', 'group-containers', 'group.app.tavro'));
  assert.equal(cloudAvailable(), 1);

  const photo = path.join(exchangeDirectory, 'photo.png');
  fs.writeFileSync(photo, 'not really a png');
  const request = {
    version: 1,
    storePath: path.join(container, 'Library', 'Tavro.store'),
    directory: exchangeDirectory,
    records: [
      { recordType: 'Tag', uuid: '20000000-0000-0000-0000-000000000001', name: 'from node' },
      { recordType: 'Thing', uuid: '30000000-0000-0000-0000-000000000001', kind: 'image',
        title: 'Photo', data: photo, tags: ['20000000-0000-0000-0000-000000000001'] },
    ],
  };
  const [first, refused] = await Promise.all([run(1, request), run(2, { version: 2 })]);
  assert.equal(refused.error, 'Invalid bridge request.');
  assert.equal(first.error, undefined);
  const thing = first.records.find((record) => record.recordType === 'Thing');
  assert.equal(fs.readFileSync(thing.data, 'utf8'), 'not really a png');

  fs.rmSync(path.join(exchangeDirectory, 'received'), { recursive: true });
  const knownFingerprints = { [`Thing:${thing.uuid}`]: thing.fingerprint };
  const second = await run(3, { ...request, records: [], knownFingerprints });
  assert.equal(second.records.length, 2);
  assert.deepEqual(fs.readdirSync(path.join(exchangeDirectory, 'received')), []);
  koffi.unregister(callback);
});
