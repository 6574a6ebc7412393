// The control ZAV for page scripts: an object whose properties and methods carry the
// control's own names, built from the control's type description, each call going
// through the control's JSON host (one request line in, one answer line out).
//
//   const zav = createZAV(bridge);   // bridge: {request(line) -> line, typelib() -> text}
//   zav.inicio();
//   zav.OrigenArchi = 'A:\\';
//   const verdict = zav.ValidaReg('06/12/2026');
//
// - Properties are JavaScript accessors; read-only ones have no setter. Methods take
//   their arguments in order and return the result. By-reference outputs come back
//   through zav.$call(name, ...args), which answers {result, args}.
// - A failed call throws a ZAVError with the control's error number and description
//   (438 unknown member, 450 wrong number of arguments, 13 type mismatch, ...).
// - Before anything else, createZAV asks the control whether it is safe for scripting,
//   as a browser's loader does: GetInterfaceSafetyOptions for the scripting interface
//   must enable option 1, and SetInterfaceSafetyOptions must accept option 1. A control
//   that refuses is not scripted: createZAV throws a ZAVSafetyError.

export const SCRIPTING_IID = '{A6EF9860-C720-11D0-9337-00A0C90DCAA9}';
const SAFE_FOR_SCRIPTING = 1;

export class ZAVError extends Error {
  constructor(number, description) {
    super(`${description} (${number})`);
    this.name = 'ZAVError';
    this.number = number;
    this.description = description;
  }
}

export class ZAVSafetyError extends Error {
  constructor(message) {
    super(message);
    this.name = 'ZAVSafetyError';
  }
}

// One request to the JSON host; the answer's `result` and `args`, or a ZAVError.
function send(bridge, request) {
  const answer = JSON.parse(bridge.request(JSON.stringify(request)));
  if (!answer.ok) throw new ZAVError(answer.error.number, answer.error.description);
  return answer;
}

// The members of the control's dispatch interface and of its safety interface.
function describe(typelibText) {
  const lib = JSON.parse(typelibText);
  const dispatch = lib.interfaces.find((i) => i.kind === 'dispatch');
  const safety = lib.interfaces.find((i) => i.kind !== 'dispatch');
  if (!dispatch || !safety) throw new Error('the type description lacks an interface');
  return { members: dispatch.members, safety: safety.members };
}

function checkSafety(bridge) {
  const get = send(bridge, {
    call: 'GetInterfaceSafetyOptions',
    args: [SCRIPTING_IID, 0, 0],
  });
  const enabled = get.args[2];
  if (get.result !== 0 || typeof enabled !== 'number' || (enabled & SAFE_FOR_SCRIPTING) === 0) {
    throw new ZAVSafetyError('El control no está marcado como seguro para secuencias de comandos.');
  }
  const set = send(bridge, {
    call: 'SetInterfaceSafetyOptions',
    args: [SCRIPTING_IID, SAFE_FOR_SCRIPTING, SAFE_FOR_SCRIPTING],
  });
  if (set.result !== 0) {
    throw new ZAVSafetyError('El control no acepta ser usado desde secuencias de comandos.');
  }
}

export function createZAV(bridge) {
  const { members } = describe(bridge.typelib());
  checkSafety(bridge);

  const zav = {};
  Object.defineProperty(zav, '$call', {
    value: (name, ...args) => {
      const answer = send(bridge, { call: name, args });
      return { result: answer.result, args: answer.args };
    },
  });
  Object.defineProperty(zav, '$members', { value: members.map((m) => m.name) });
  for (const m of members) {
    if (m.kind === 'method') {
      Object.defineProperty(zav, m.name, {
        enumerable: true,
        value: (...args) => send(bridge, { call: m.name, args }).result,
      });
    } else {
      const accessor = {
        enumerable: true,
        get: () => send(bridge, { get: m.name }).result,
      };
      if (m.kind === 'property') {
        accessor.set = (value) => {
          send(bridge, { put: m.name, value });
        };
      }
      Object.defineProperty(zav, m.name, accessor);
    }
  }
  return Object.freeze(zav);
}
