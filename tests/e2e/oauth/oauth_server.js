// The authorization server of the sign-in tests: oidc-provider on 127.0.0.1 at a free port, with
// its development login and consent pages (any user name, any password), an in-memory store, one
// public native client, and one confidential client for the SMTP server, which may only introspect
// the native client's access tokens. Announces "PORT <n>" and then "ISSUER <url>" on standard
// output and stops on SIGTERM or after --max-seconds.
//
// Options: --cert PEM --key KEY (HTTPS with that certificate), --access-ttl S (access tokens' lifetime), --device-interval S (the polling interval the
// device authorization answers with; a poll sooner than that is answered invalid_request), and
// --slow-down (the first device poll is answered slow_down, which adds 5 s to the interval).
import fs from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import { parseArgs } from 'node:util';
import querystring from 'node:querystring';
import Provider from 'oidc-provider';

const { values: options } = parseArgs({
  options: {
    'access-ttl': { type: 'string', default: '3600' },
    'device-interval': { type: 'string', default: '1' },
    'slow-down': { type: 'boolean', default: false },
    'max-seconds': { type: 'string', default: '600' },
    cert: { type: 'string' },
    key: { type: 'string' },
  },
});

const kClientId = 'mailcart-test';
const kIntrospectorId = 'mailcart-smtp';
const kDeviceGrant = 'urn:ietf:params:oauth:grant-type:device_code';

const configuration = {
  clients: [{
    client_id: kClientId,
    application_type: 'native',
    token_endpoint_auth_method: 'none',
    grant_types: ['authorization_code', 'refresh_token', kDeviceGrant],
    response_types: ['code'],
    // RFC 8252 7.3: a native client's loopback redirect may come at any port.
    redirect_uris: ['http://127.0.0.1/'],
  }, {
    // The SMTP server, a resource server: it signs in no one, it only asks whether a token is live.
    client_id: kIntrospectorId,
    client_secret: 'mailcart-smtp-secret',
    token_endpoint_auth_method: 'client_secret_basic',
    grant_types: [],
    response_types: [],
    redirect_uris: [],
  }],
  pkce: { methods: ['S256'], required: () => true },
  features: {
    devInteractions: { enabled: true },
    deviceFlow: { enabled: true },
    introspection: {
      enabled: true,
      // The default lets any confidential client read any token. Here the SMTP server reads only
      // the native client's access tokens (a refresh token is no login), and a client its own.
      async allowedPolicy(ctx, caller, token) {
        if (caller.clientId === kIntrospectorId) return token.clientId === kClientId && token.kind === 'AccessToken';
        return caller.clientId === token.clientId;
      },
    },
    registration: { enabled: true },
    revocation: { enabled: true },
  },
  claims: { openid: ['sub'], email: ['email', 'email_verified'] },
  conformIdTokenClaims: false,
  scopes: ['openid', 'email', 'offline_access', 'mail'],
  async findAccount(ctx, id) {
    return { accountId: id, claims: async () => ({ sub: id, email: `${id}@example.test`, email_verified: true }) };
  },
  async issueRefreshToken(ctx, client) { return client.grantTypeAllowed('refresh_token'); },
  ttl: { AccessToken: Number(options['access-ttl']), DeviceCode: 600, Grant: 3600, Interaction: 600, Session: 3600 },
  cookies: { keys: ['mailcart-tests-only'] },
};

// The device flow's polling rules, which oidc-provider leaves to the client: an interval in the
// device authorization, slow_down once on request, and a refusal for polls that come too soon.
function devicePolling(provider) {
  const interval = Number(options['device-interval']);
  let wait = interval;
  let lastPoll = 0;
  let slowedDown = !options['slow-down'];
  provider.use(async (ctx, next) => {
    if (ctx.method === 'POST' && ctx.path === '/token' && ctx.req.readable) {
      const chunks = [];
      for await (const chunk of ctx.req) chunks.push(chunk);
      ctx.req.body = Buffer.concat(chunks).toString();
      if (querystring.parse(ctx.req.body).grant_type === kDeviceGrant) {
        const now = Date.now();
        const early = lastPoll !== 0 && now - lastPoll < wait * 1000 - 200;
        lastPoll = now;
        if (early || !slowedDown) {
          ctx.status = 400;
          ctx.body = early ? { error: 'invalid_request', error_description: `polled sooner than every ${wait} s` }
            : { error: 'slow_down' };
          if (!slowedDown) wait += 5;
          slowedDown = true;
          return;
        }
      }
    }
    await next();
    if (ctx.path === '/device/auth' && ctx.status === 200) ctx.body = { ...ctx.body, interval };
  });
}

const server = options.cert
  ? https.createServer({ cert: fs.readFileSync(options.cert), key: fs.readFileSync(options.key) })
  : http.createServer();
server.listen(0, '127.0.0.1', () => {
  const { port } = server.address();
  const issuer = `${options.cert ? 'https' : 'http'}://127.0.0.1:${port}`;
  const provider = new Provider(issuer, configuration);
  devicePolling(provider);
  server.on('request', provider.callback());
  process.stdout.write(`PORT ${port}\nISSUER ${issuer}\n`);
});

const stop = () => { server.close(); process.exit(0); };
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
setTimeout(stop, Number(options['max-seconds']) * 1000).unref();
