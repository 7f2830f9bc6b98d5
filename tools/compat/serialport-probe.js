// What Node's serialport can do on a port: each step prints "<step> ok" or "<step> error ...".
const { SerialPort } = require('serialport');

const step = (name, action) => new Promise((done) => action((error) => {
  console.log(name, error ? `error ${error.message}` : 'ok');
  done();
}));

const port = new SerialPort({ path: process.argv[2], baudRate: 9600, dataBits: 7, parity: 'even', autoOpen: false });
(async () => {
  await step('open 7E1', (cb) => port.open(cb));
  if (!port.isOpen) return;
  await step('io', (cb) => {
    port.once('data', (data) => cb(data.toString() === 'ping' ? null : new Error(`got ${data}`)));
    port.write('ping');
  });
  await step('dtr/rts off', (cb) => port.set({ dtr: false, rts: false }, cb));
  await step('break', (cb) => port.set({ brk: true, dtr: false, rts: false },
    (error) => (error ? cb(error) : setTimeout(() => port.set({ brk: false, dtr: false, rts: false }, cb), 250))));
  await step('modem read', (cb) => port.get((error, lines) => {
    if (!error) console.log('lines', JSON.stringify(lines));
    cb(error);
  }));
  await step('close', (cb) => port.close(cb));
})();
