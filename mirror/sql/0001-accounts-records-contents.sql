-- Server schema 1: accounts, their records and their content, and the functions a signed-in
-- machine is granted. Machines are granted these functions only, never a table; every function
-- finds the account from the login role of the session (session_user), so a machine can
-- reach its own account's rows and nothing else.
--
-- The functions run as the schema's owner (SECURITY DEFINER) with a fixed search_path, so
-- nothing a client puts on its own search_path is ever resolved inside them.
--
-- Errors a machine must tell apart carry SQLSTATEs of their own:
--   TA001  the session's role has no account on this server
--   TA002  changes after the asked sequence are no longer kept: resynchronise from the start
--   TA003  content chunks missing, or content not on the server (not uploaded or unverified)

CREATE SCHEMA tavro;
REVOKE ALL ON SCHEMA tavro FROM PUBLIC;

-- The group role every account's login role belongs to. Roles are shared by all databases of
-- a cluster, so a second database set up in the same cluster finds it there already (or a
-- set-up of another database running at the same moment makes it first).
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'tavro_client') THEN
        CREATE ROLE tavro_client NOLOGIN;
    END IF;
EXCEPTION WHEN duplicate_object OR unique_violation THEN
    NULL;
END
$$;
GRANT USAGE ON SCHEMA tavro TO tavro_client;

-- One row: the schema version this database holds (written by `tavro server init`).
CREATE TABLE tavro.server_schema (
    singleton boolean PRIMARY KEY DEFAULT true CHECK (singleton),
    version integer NOT NULL
);

CREATE TABLE tavro.accounts (
    id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    role_name name NOT NULL UNIQUE,
    -- Issued by the server, never changed: the library is pinned to it on every machine.
    record_name text NOT NULL UNIQUE CHECK (record_name ~ '^_[0-9a-f]{32}$'),
    -- The last change sequence issued. Writers update this row first, which locks it until
    -- they commit, so sequence numbers of one account are committed in the order issued.
    last_sequence bigint NOT NULL DEFAULT 0,
    -- The highest sequence of a tombstone that has been expired. A machine whose cursor is
    -- below it may have missed a delete and must resynchronise whole.
    expired_through bigint NOT NULL DEFAULT 0,
    created_at timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE tavro.records (
    account_id bigint NOT NULL REFERENCES tavro.accounts ON DELETE CASCADE,
    record_type text NOT NULL CHECK (record_type ~ '^[A-Za-z][A-Za-z0-9]{0,63}$'),
    identifier uuid NOT NULL,
    -- Compare-and-swap: a write names the version it last saw; 0 means "never saw it".
    version bigint NOT NULL CHECK (version > 0),
    sequence bigint NOT NULL,
    -- The machine's own JSON text of the record, kept byte for byte; null for a tombstone.
    body text,
    -- The content digests the record references; each was verified before it was accepted.
    contents text[] NOT NULL DEFAULT '{}',
    changed_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (account_id, record_type, identifier),
    UNIQUE (account_id, sequence)
);
CREATE INDEX records_tombstones ON tavro.records (changed_at) WHERE body IS NULL;

-- Content is stored once per account and SHA-256 digest, in chunks. It can be referenced only
-- once verified_at is set, which finish_content does after hashing the chunks. Content is not
-- shared between accounts: asking whether a digest exists would tell one account what files
-- another holds.
CREATE TABLE tavro.contents (
    account_id bigint NOT NULL REFERENCES tavro.accounts ON DELETE CASCADE,
    digest text NOT NULL CHECK (digest ~ '^[0-9a-f]{64}$'),
    size bigint,
    chunk_count integer,
    verified_at timestamptz,
    PRIMARY KEY (account_id, digest)
);

CREATE TABLE tavro.content_chunks (
    account_id bigint NOT NULL,
    digest text NOT NULL,
    chunk_index integer NOT NULL CHECK (chunk_index >= 0),
    data bytea NOT NULL CHECK (length(data) BETWEEN 1 AND 4194304),
    PRIMARY KEY (account_id, digest, chunk_index),
    FOREIGN KEY (account_id, digest) REFERENCES tavro.contents ON DELETE CASCADE
);

-- The account of the session's login role, or TA001.
CREATE FUNCTION tavro.session_account() RETURNS bigint
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    found_id bigint;
BEGIN
    SELECT a.id INTO found_id FROM tavro.accounts a WHERE a.role_name = session_user;
    IF found_id IS NULL THEN
        RAISE EXCEPTION 'role "%" is not a Tavro account', session_user
            USING ERRCODE = 'TA001';
    END IF;
    RETURN found_id;
END
$$;

-- Takes the next sequence number of the account. The update locks the account's row until the
-- calling transaction ends: a second writer waits here, so it can only be issued a higher
-- number after the lower one is committed (or rolled back and its number reissued). A reader
-- asking for changes after N therefore never sees N+2 before N+1.
CREATE FUNCTION tavro.next_sequence(account bigint) RETURNS bigint
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    issued bigint;
    channel text;
BEGIN
    UPDATE tavro.accounts a SET last_sequence = a.last_sequence + 1 WHERE a.id = account
        RETURNING a.last_sequence, 'tavro_' || a.record_name INTO issued, channel;
    -- Delivered at commit, to sessions listening on the account's channel only.
    PERFORM pg_notify(channel, issued::text);
    RETURN issued;
END
$$;

CREATE FUNCTION tavro.schema_version() RETURNS integer
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
    SELECT s.version FROM tavro.server_schema s
$$;

-- The account's record name: what the machine's library is pinned to.
CREATE FUNCTION tavro.whoami() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
    SELECT a.record_name FROM tavro.accounts a WHERE a.id = tavro.session_account()
$$;

-- The channel to LISTEN on for the account's changes; each notification's payload is the
-- sequence just committed.
CREATE FUNCTION tavro.change_channel() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
    SELECT 'tavro_' || a.record_name FROM tavro.accounts a WHERE a.id = tavro.session_account()
$$;

-- Up to page_size (1 to 1000) records and tombstones changed after sequence `after`, in
-- sequence order. `after` 0 reads everything there is. TA002 when tombstones after `after`
-- have expired.
CREATE FUNCTION tavro.changes_since(after bigint, page_size integer)
RETURNS TABLE (sequence bigint, record_type text, identifier uuid, version bigint,
               deleted boolean, body text, contents text[])
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
#variable_conflict use_column
DECLARE
    account bigint := tavro.session_account();
    horizon bigint;
BEGIN
    IF after IS NULL OR after < 0 THEN
        RAISE EXCEPTION 'changes_since needs a sequence of 0 or more' USING ERRCODE = '22023';
    END IF;
    SELECT a.expired_through INTO horizon FROM tavro.accounts a WHERE a.id = account;
    IF after > 0 AND after < horizon THEN
        RAISE EXCEPTION 'changes after % are no longer kept (deletes through % have expired)',
            after, horizon USING ERRCODE = 'TA002';
    END IF;
    RETURN QUERY
        SELECT r.sequence, r.record_type, r.identifier, r.version, r.body IS NULL, r.body,
               r.contents
        FROM tavro.records r
        WHERE r.account_id = account AND r.sequence > after
        ORDER BY r.sequence
        LIMIT greatest(1, least(coalesce(page_size, 1000), 1000));
END
$$;

-- Writes a record if the server's version is still `expected_version` (0: the record must not
-- exist). Every digest in `record_contents` must be verified content of the account (TA003).
-- Answers applied with the new version and sequence, or not applied with the server's row as
-- it is (version 0 when there is none; deleted for a tombstone).
CREATE FUNCTION tavro.push_record(record_type text, identifier uuid, expected_version bigint,
                                  record_body text, record_contents text[] DEFAULT '{}')
RETURNS TABLE (applied boolean, version bigint, sequence bigint, deleted boolean, body text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
#variable_conflict use_variable
DECLARE
    account bigint := tavro.session_account();
    existing tavro.records;
    missing text;
    issued bigint;
BEGIN
    IF record_body IS NULL THEN
        RAISE EXCEPTION 'a record needs a body; deletes go through delete_record'
            USING ERRCODE = '22004';
    END IF;
    -- Writers of one account take its row first, so the read below cannot go stale.
    PERFORM FROM tavro.accounts a WHERE a.id = account FOR UPDATE;
    SELECT * INTO existing FROM tavro.records r
        WHERE r.account_id = account AND r.record_type = push_record.record_type
          AND r.identifier = push_record.identifier;
    IF coalesce(existing.version, 0) <> expected_version THEN
        RETURN QUERY SELECT false, coalesce(existing.version, 0), coalesce(existing.sequence, 0),
                            existing.version IS NOT NULL AND existing.body IS NULL, existing.body;
        RETURN;
    END IF;
    SELECT d INTO missing FROM unnest(coalesce(record_contents, '{}')) d
        WHERE NOT EXISTS (SELECT FROM tavro.contents c
                          WHERE c.account_id = account AND c.digest = d
                            AND c.verified_at IS NOT NULL)
        LIMIT 1;
    IF missing IS NOT NULL THEN
        RAISE EXCEPTION 'content % is not on the server', missing USING ERRCODE = 'TA003';
    END IF;
    issued := tavro.next_sequence(account);
    INSERT INTO tavro.records AS r (account_id, record_type, identifier, version, sequence, body,
                                    contents)
        VALUES (account, push_record.record_type, push_record.identifier, 1, issued, record_body,
                coalesce(record_contents, '{}'))
        ON CONFLICT ON CONSTRAINT records_pkey DO UPDATE
            SET version = r.version + 1, sequence = excluded.sequence, body = excluded.body,
                contents = excluded.contents, changed_at = now();
    RETURN QUERY SELECT true, coalesce(existing.version, 0) + 1, issued, false, record_body;
END
$$;

-- Replaces a record by a tombstone if the server's version is still `expected_version`.
-- Deleting what the server never had (expected 0, no row) or a tombstone already there
-- succeeds without a change. Answers as push_record.
CREATE FUNCTION tavro.delete_record(record_type text, identifier uuid, expected_version bigint)
RETURNS TABLE (applied boolean, version bigint, sequence bigint, deleted boolean, body text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
#variable_conflict use_variable
DECLARE
    account bigint := tavro.session_account();
    existing tavro.records;
    issued bigint;
BEGIN
    PERFORM FROM tavro.accounts a WHERE a.id = account FOR UPDATE;
    SELECT * INTO existing FROM tavro.records r
        WHERE r.account_id = account AND r.record_type = delete_record.record_type
          AND r.identifier = delete_record.identifier;
    IF coalesce(existing.version, 0) <> expected_version THEN
        RETURN QUERY SELECT false, coalesce(existing.version, 0), coalesce(existing.sequence, 0),
                            existing.version IS NOT NULL AND existing.body IS NULL, existing.body;
        RETURN;
    END IF;
    IF existing.version IS NULL OR existing.body IS NULL THEN
        RETURN QUERY SELECT true, coalesce(existing.version, 0), coalesce(existing.sequence, 0),
                            true, NULL::text;
        RETURN;
    END IF;
    issued := tavro.next_sequence(account);
    UPDATE tavro.records r
        SET version = r.version + 1, sequence = issued, body = NULL, contents = '{}',
            changed_at = now()
        WHERE r.account_id = account AND r.record_type = delete_record.record_type
          AND r.identifier = delete_record.identifier;
    RETURN QUERY SELECT true, existing.version + 1, issued, true, NULL::text;
END
$$;

-- Whether the account holds verified content of this digest.
CREATE FUNCTION tavro.has_content(digest text) RETURNS boolean
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
    SELECT EXISTS (SELECT FROM tavro.contents c
                   WHERE c.account_id = tavro.session_account() AND c.digest = has_content.digest
                     AND c.verified_at IS NOT NULL)
$$;

-- Stores chunk `chunk_index` (from 0; 1 byte to 4 MiB) of an upload, replacing a chunk of the
-- same index. False, storing nothing, when the content is already verified.
CREATE FUNCTION tavro.put_chunk(digest text, chunk_index integer, data bytea) RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
#variable_conflict use_variable
DECLARE
    account bigint := tavro.session_account();
    verified timestamptz;
BEGIN
    INSERT INTO tavro.contents (account_id, digest) VALUES (account, put_chunk.digest)
        ON CONFLICT DO NOTHING;
    SELECT c.verified_at INTO verified FROM tavro.contents c
        WHERE c.account_id = account AND c.digest = put_chunk.digest FOR UPDATE;
    IF verified IS NOT NULL THEN
        RETURN false;
    END IF;
    INSERT INTO tavro.content_chunks AS k (account_id, digest, chunk_index, data)
        VALUES (account, put_chunk.digest, put_chunk.chunk_index, put_chunk.data)
        ON CONFLICT ON CONSTRAINT content_chunks_pkey DO UPDATE SET data = excluded.data;
    RETURN true;
END
$$;

-- Ends an upload of `chunk_count` chunks (0 for empty content): the server hashes the chunks
-- in order, and only when the SHA-256 matches the digest does the content become verified,
-- and so referencable. True when verified (also when it was already); false when the chunks
-- do not hash to the digest, which discards them. TA003 when a chunk is missing.
CREATE FUNCTION tavro.finish_content(digest text, chunk_count integer) RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
#variable_conflict use_variable
DECLARE
    account bigint := tavro.session_account();
    verified timestamptz;
    present integer;
    total bigint;
    actual text;
BEGIN
    IF chunk_count IS NULL OR chunk_count < 0 THEN
        RAISE EXCEPTION 'finish_content needs a chunk count of 0 or more' USING ERRCODE = '22023';
    END IF;
    INSERT INTO tavro.contents (account_id, digest) VALUES (account, finish_content.digest)
        ON CONFLICT DO NOTHING;
    SELECT c.verified_at INTO verified FROM tavro.contents c
        WHERE c.account_id = account AND c.digest = finish_content.digest FOR UPDATE;
    IF verified IS NOT NULL THEN
        RETURN true;
    END IF;
    DELETE FROM tavro.content_chunks k
        WHERE k.account_id = account AND k.digest = finish_content.digest
          AND k.chunk_index >= chunk_count;
    SELECT count(*), coalesce(sum(length(k.data)), 0) INTO present, total
        FROM tavro.content_chunks k
        WHERE k.account_id = account AND k.digest = finish_content.digest;
    IF present <> chunk_count THEN
        RAISE EXCEPTION 'content % has % of its % chunks on the server', finish_content.digest,
            present, chunk_count USING ERRCODE = 'TA003';
    END IF;
    SELECT encode(sha256(coalesce(string_agg(k.data, ''::bytea ORDER BY k.chunk_index),
                                  ''::bytea)), 'hex')
        INTO actual FROM tavro.content_chunks k
        WHERE k.account_id = account AND k.digest = finish_content.digest;
    IF actual <> finish_content.digest THEN
        DELETE FROM tavro.contents c
            WHERE c.account_id = account AND c.digest = finish_content.digest;
        RETURN false;
    END IF;
    UPDATE tavro.contents c SET size = total, chunk_count = finish_content.chunk_count,
                                verified_at = now()
        WHERE c.account_id = account AND c.digest = finish_content.digest;
    RETURN true;
END
$$;

-- Chunk `chunk_index` of verified content; null past its last chunk. TA003 when the account
-- holds no verified content of this digest.
CREATE FUNCTION tavro.get_chunk(digest text, chunk_index integer) RETURNS bytea
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
#variable_conflict use_variable
DECLARE
    account bigint := tavro.session_account();
    chunk bytea;
BEGIN
    IF NOT EXISTS (SELECT FROM tavro.contents c
                   WHERE c.account_id = account AND c.digest = get_chunk.digest
                     AND c.verified_at IS NOT NULL) THEN
        RAISE EXCEPTION 'content % is not on the server', get_chunk.digest
            USING ERRCODE = 'TA003';
    END IF;
    SELECT k.data INTO chunk FROM tavro.content_chunks k
        WHERE k.account_id = account AND k.digest = get_chunk.digest
          AND k.chunk_index = get_chunk.chunk_index;
    RETURN chunk;
END
$$;

-- Administration (not granted to machines): makes an existing login role an account, or
-- answers the record name it already has.
CREATE FUNCTION tavro.add_account(role name) RETURNS text
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    issued text;
BEGIN
    INSERT INTO tavro.accounts (role_name, record_name)
        VALUES (role, '_' || replace(gen_random_uuid()::text, '-', ''))
        ON CONFLICT (role_name) DO NOTHING;
    SELECT a.record_name INTO issued FROM tavro.accounts a WHERE a.role_name = role;
    RETURN issued;
END
$$;

-- Administration: removes tombstones older than `older_than` and raises each account's
-- horizon, so that machines that were away longer resynchronise whole. Answers how many
-- tombstones went.
CREATE FUNCTION tavro.expire_tombstones(older_than interval) RETURNS bigint
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    account record;
    removed bigint := 0;
    highest bigint;
    n bigint;
BEGIN
    FOR account IN SELECT a.id FROM tavro.accounts a ORDER BY a.id LOOP
        -- The writers' lock: a tombstone cannot be written while its account is expired.
        PERFORM FROM tavro.accounts a WHERE a.id = account.id FOR UPDATE;
        WITH gone AS (
            DELETE FROM tavro.records r
            WHERE r.account_id = account.id AND r.body IS NULL
              AND r.changed_at < now() - older_than
            RETURNING r.sequence)
        SELECT max(g.sequence), count(*) INTO highest, n FROM gone g;
        IF n > 0 THEN
            UPDATE tavro.accounts a SET expired_through = greatest(a.expired_through, highest)
                WHERE a.id = account.id;
            removed := removed + n;
        END IF;
    END LOOP;
    RETURN removed;
END
$$;

-- Functions are executable by everybody unless revoked; machines get exactly these.
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA tavro FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA tavro FROM PUBLIC;
GRANT EXECUTE ON FUNCTION
    tavro.schema_version(), tavro.whoami(), tavro.change_channel(),
    tavro.changes_since(bigint, integer),
    tavro.push_record(text, uuid, bigint, text, text[]),
    tavro.delete_record(text, uuid, bigint),
    tavro.has_content(text), tavro.put_chunk(text, integer, bytea),
    tavro.finish_content(text, integer), tavro.get_chunk(text, integer)
    TO tavro_client;
